// Event types, server error codes, asset type and status texts, and query encoding.

#include "api/EventType.h"
#include "api/IWayfoldApi.h"
#include "api/ServerError.h"
#include "api/UrlEncode.h"

#include <gtest/gtest.h>

#include <sstream>

namespace
{
using dwl::EventType;

EventType parse(const std::string& text)
{
    return dwl::parseEventType(text.data(), text.size());
}

template <class T>
std::wstring written(const T& value)
{
    std::wostringstream stream;
    stream << value;
    return stream.str();
}

TEST(EventTypes, OnlyExactNamesParse)
{
    EXPECT_EQ(parse("VERSION_CREATED"), EventType::versionCreated);
    EXPECT_EQ(parse("DOCUMENT_CREATED"), EventType::documentCreated);
    EXPECT_EQ(parse("SHARE_UPDATED"), EventType::shareUpdated);
    for (const char* text : {"share_created", "SHARE_CREATED ", "SHARE", "", "ZZZ", "A"})
        EXPECT_EQ(parse(text), EventType::other) << text;
    EXPECT_EQ(written(EventType::versionCreated), L"VERSION_CREATED");
    EXPECT_EQ(written(EventType::other), L"OTHER");
    EXPECT_EQ(written(static_cast<EventType>(11)), L"OTHER");
}

TEST(ServerErrorCodes, KeysMapToCodesAndBack)
{
    EXPECT_EQ(dwl::parseServerErrorCode("user.suspended"), dwl::ServerErrorCode::userSuspended);
    EXPECT_EQ(dwl::parseServerErrorCode("repository.action.notSupported"),
              dwl::ServerErrorCode::repositoryActionNotSupported);
    EXPECT_EQ(dwl::parseServerErrorCode("document.content.notAvailable"),
              dwl::ServerErrorCode::documentContentNotAvailable);
    EXPECT_EQ(dwl::parseServerErrorCode("share.notfound"), dwl::ServerErrorCode::unknown);
    EXPECT_EQ(dwl::parseServerErrorCode(""), dwl::ServerErrorCode::unknown);
    const std::error_code code = dwl::ServerErrorCode::shareNotFound;
    EXPECT_STREQ(code.category().name(), "Wayfold");
    EXPECT_EQ(code.message(), "share.notFound");
    EXPECT_EQ(written(dwl::ServerErrorCode::unknown), L"ServerErrorCode(0)");
    EXPECT_EQ(written(static_cast<dwl::ServerErrorCode>(11)), L"ServerErrorCode(11)");
}

TEST(AssetTexts, TypesAndStatusesReadInAnyCase)
{
    using Asset = dwl::IWayfoldApi::Asset;
    EXPECT_EQ(Asset::typeFromString("container"), Asset::Folder);
    EXPECT_EQ(Asset::typeFromString("Document"), Asset::Document);
    EXPECT_EQ(Asset::statusFromString("virus_detected"), Asset::VirusDetected);
    try
    {
        Asset::typeFromString("link");
        FAIL();
    }
    catch (const qcl::basic_runtime_error<wchar_t>& e)
    {
        EXPECT_EQ(e.message(), L"Bad Asset type: link");
    }
    EXPECT_THROW(Asset::statusFromString("DONE"), qcl::basic_runtime_error<wchar_t>);
    std::wostringstream text;
    Asset::typeToString(text, static_cast<Asset::Type>(5));
    Asset::statusToString(text << L" ", Asset::Saving);
    EXPECT_EQ(text.str(), L"IWayfoldApi::Asset::Type(5) SAVING");
}

TEST(UrlEncode, KeepsOnlyUnreservedBytes)
{
    EXPECT_EQ(qcl::url::encode("a b@c+d"), "a%20b%40c%2bd");
    EXPECT_EQ(qcl::url::encode("\xc3\xa9"), "%c3%a9");
    EXPECT_EQ(qcl::url::encode("AZaz09-_.~"), "AZaz09-_.~");
    EXPECT_EQ(qcl::url::encode(std::string("\0/", 2)), "%00%2f");
}
} // namespace
