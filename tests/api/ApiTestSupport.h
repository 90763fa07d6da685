#pragma once
// A fake Wayfold server on 127.0.0.1 with one user, and a REST client signed in to it. The server's contract
// violations are checked empty at teardown.

#include "api/WayfoldApi.h"
#include "qcl/Handle.h"
#include "support/FakeWayfoldServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace apitest
{
inline const std::string kEmail = "ann+test@example.com";
inline const std::string kPassword = "s3cret";
inline const std::string kOtherEmail = "bob@example.com";

class ApiTest : public ::testing::Test
{
protected:
    ApiTest();
    void TearDown() override;

    // The user's Share made through the client: (share id, root id).
    dwl::IdPair makeShare(const std::wstring& name = L"Docs");
    static qcl::uint128 id(const std::string& text) { return qcl::uint128::parse(text); }
    // The requests made since the last call, REST only.
    std::vector<fake::RecordedRequest> takeRequests();

    fake::FakeWayfoldServer server;
    dwl::WayfoldApi api;
};

// A file in a temporary folder that goes with the object, and an open read-write handle on it.
class TemporaryFile
{
public:
    explicit TemporaryFile(const std::string& content = "");
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    HANDLE handle() const;
    std::string content() const;
    const std::filesystem::path& path() const { return mPath; }

private:
    std::filesystem::path mFolder;
    std::filesystem::path mPath;
    std::unique_ptr<qcl::Handle> mHandle;
};
} // namespace apitest
