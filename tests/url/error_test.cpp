#include "url/Error.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

namespace {

std::wstring curlText(int code) {
    const std::string text = curl_easy_strerror(static_cast<CURLcode>(code));
    return std::wstring(text.begin(), text.end());
}

TEST(UrlError, CurlMessagesNameTheCodeAndAddLibcurlsText) {
    EXPECT_EQ(url::Error(6, L"").message(), L"CURLE_COULDNT_RESOLVE_HOST: " + curlText(6));
    EXPECT_EQ(url::Error(6, L"x").message(), L"x: CURLE_COULDNT_RESOLVE_HOST: " + curlText(6));
    EXPECT_EQ(url::Error(60, L"").message(), L"CURLE_SSL_CACERT: " + curlText(60));
    EXPECT_EQ(url::Error(16, L"").message(), L"CURLcode(16): " + curlText(16));
    EXPECT_EQ(url::Error(89, L"").message(), L"CURLcode(89): " + curlText(89));
    const url::Error error(7, L"");
    EXPECT_EQ(error.code, std::error_code(7, url::curlCategory()));
    EXPECT_STREQ(url::curlCategory().name(), "CURL");
}

TEST(UrlError, HttpCategoryAddsReasonsOnlyForKnownStatuses) {
    EXPECT_EQ(url::httpCategory().message(402), "402");
    EXPECT_EQ(url::httpCategory().message(503), "503 (Service Unavailable)");
    EXPECT_EQ(url::httpCategory().message(410), "410 (Gone)");
    EXPECT_STREQ(url::httpCategory().name(), "HTTP");
}

TEST(UrlError, HttpClassesCarryTheirStatus) {
    const url::ConflictError conflict(L"");
    EXPECT_EQ(conflict.code, std::error_code(409, url::httpCategory()));
    EXPECT_EQ(conflict.message(), L"Server responded with HTTP error 409");
    const url::ServerSideError server(502, L"Cannot GET u");
    EXPECT_EQ(server.message(), L"Cannot GET u: Server responded with HTTP error 502");

    try {
        url::throwHttpError(410);
        FAIL() << "410 must throw";
    } catch (const url::NotFoundError& e) {
        EXPECT_EQ(e.code.value(), 404);
        EXPECT_EQ(e.message(), L"Server responded with HTTP error 404");
    }
    EXPECT_NO_THROW(url::throwHttpError(399));
    EXPECT_NO_THROW(url::throwHttpError(600));
    EXPECT_THROW(url::throwHttpError(599), url::ServerSideError);
    EXPECT_THROW(url::throwHttpError(402), url::ClientSideError);
    EXPECT_THROW(url::throwHttpError(403), url::NotFoundOrForbiddenError);
}

TEST(UrlError, FileTooBigIsAReadError) {
    const url::FileTooBig error;
    EXPECT_EQ(error.code, std::error_code(26, url::curlCategory()));
    EXPECT_EQ(error.message(), L"File is too big: CURLE_READ_ERROR: " + curlText(26));
}

TEST(UrlError, MessageEditsAndWhatFollowThem) {
    url::NetworkError error(7, L"");
    const std::wstring original = error.message();
    error.prependMessage(L"");
    EXPECT_EQ(error.message(), original);
    error.prependMessage(L"Cannot GET x");
    EXPECT_EQ(error.message(), L"Cannot GET x: " + original);
    EXPECT_EQ(std::string(error.what()), "Cannot GET x: " + std::string(original.begin(), original.end()));
    error.setMessage(L"");
    error.prependMessage(L"t");
    EXPECT_EQ(error.message(), L"t");
    error.appendMessage(L"u");
    EXPECT_EQ(error.message(), L"t: u");
    EXPECT_STREQ(error.what(), "t: u");

    const url::Error copy = error;  // copies keep message, code and server message
    EXPECT_EQ(copy.message(), L"t: u");
    EXPECT_EQ(copy.code, error.code);
}

}  // namespace
