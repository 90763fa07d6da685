#include "ApiTestSupport.h"

#include "qcl/File.h"

#include <fstream>
#include <stdexcept>

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

namespace apitest
{
TemporaryFile::TemporaryFile(const std::string& content)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "wayfold-api-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("Cannot create a temporary folder");
    mFolder = pattern;
    mPath = mFolder / "content";
    std::ofstream(mPath, std::ios::binary) << content;
    mHandle = std::make_unique<qcl::Handle>(qcl::file::open(
        qcl::string::utf8ToUtf16(mPath.string()), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
}

TemporaryFile::~TemporaryFile()
{
    mHandle.reset();
    std::error_code ignored;
    std::filesystem::remove_all(mFolder, ignored);
}

HANDLE TemporaryFile::handle() const
{
    return mHandle->get();
}

std::string TemporaryFile::content() const
{
    std::ifstream file(mPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}
} // namespace apitest
