#include "ApiTestSupport.h"

namespace apitest
{
ApiTest::ApiTest()
{
    server.start();
    server.addUser(kEmail, kPassword);
    server.addUser(kOtherEmail, "other");
    api.setServerUrl(server.baseUrl() + "/rest");
    api.setCredentials(qcl::string::utf8ToUtf16(kEmail), qcl::string::utf8ToUtf16(kPassword));
    api.setCheckForGenuineServer(true);
}

void ApiTest::TearDown()
{
    EXPECT_EQ(server.violations(), std::vector<std::string>());
}

dwl::IdPair ApiTest::makeShare(const std::wstring& name)
{
    const dwl::IdPair ids = api.createShare(name, true);
    takeRequests();
    return ids;
}

std::vector<fake::RecordedRequest> ApiTest::takeRequests()
{
    auto requests = server.requests("/rest/");
    server.clearRequests();
    return requests;
}
} // namespace apitest
