#pragma once
// A fake Wayfold server on 127.0.0.1 with one user, and a REST client signed in to it. The server's contract
// violations are checked empty at teardown.

#include "api/WayfoldApi.h"
#include "support/FakeWayfoldServer.h"

#include <gtest/gtest.h>

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
} // namespace apitest
