#pragma once
// The folder of the loaded module (shared library or program) that holds an address: where a library
// finds the files installed beside it.

#include <string>

namespace compat
{
// The folder of the module holding `address`, without a final "/"; empty when it cannot be told.
std::wstring moduleFolderOf(const void* address);
} // namespace compat
