#pragma once
#include <atomic>
#include <chrono>
#include <cstdio>
namespace phase {
inline std::atomic<long long> ns[16];
inline const char* names[16] = {"canBeUploaded","createAsset","addChild","intentRemove","uploadOpen","facts+ctime","uploadContent","ctime+set","processSnapshot","delta","b_open","b_create","b_upload","","",""};
struct T { int i; std::chrono::steady_clock::time_point s = std::chrono::steady_clock::now(); ~T(){ ns[i] += (std::chrono::steady_clock::now()-s).count(); } };
inline void dump() { for (int i=0;i<16;++i) if (ns[i]) std::fprintf(stderr, "%-16s %8.3f s\n", names[i], ns[i]/1e9), ns[i]=0; }
}
