#include "qcl/Error.h"

#include "compat/ErrorInfo.h"
#include "compat/LastError.h"
#include "compat/SystemText.h"

#include <gtest/gtest.h>

using qcl::SystemError;

TEST(SystemError, ComposesCallerTextCategoryCodeAndSystemText)
{
    SystemError error(L"Cannot open '/x'", 5);
    EXPECT_EQ(error.message(), L"Cannot open '/x': Windows error 5: Access is denied.");
    EXPECT_STREQ(error.what(), "Cannot open '/x': Windows error 5: Access is denied.");
    EXPECT_EQ(error.code().value(), 5);
    EXPECT_STREQ(error.code().category().name(), "Windows");

    EXPECT_EQ(SystemError(L"", 2).message(), L"Windows error 2: The system cannot find the file specified.");
}

TEST(SystemError, CodeWithoutSystemTextFallsBackToNumber)
{
    EXPECT_EQ(SystemError(L"x", 12345).message(), L"x: Windows error 12345: Error 12345 (0x3039)");
    EXPECT_EQ(SystemError(L"x", 0xC0000005u).message(),
              L"x: Windows error 3221225477: Error 3221225477 (0xc0000005)");
}

TEST(SystemError, ErrorCodeFormUsesItsCategoryAndSignedCode)
{
    SystemError error(L"Cannot read", std::error_code(-3, std::generic_category()));
    EXPECT_EQ(error.message().rfind(L"Cannot read: generic error -3: ", 0), 0u);
    EXPECT_EQ(error.code(), std::error_code(-3, std::generic_category()));
}

TEST(SystemText, MultiLineTextBecomesOneTrimmedLine)
{
    compat::setSystemTextForTesting(54321, L"  First line.\r\n\r\n Second line. \r\n");
    EXPECT_EQ(qcl::systemErrorText(54321), L"First line. Second line.");
    // Longer than the first 256-unit buffer: read again through an allocated buffer.
    compat::setSystemTextForTesting(54322, std::wstring(600, L'x') + L"\r\n");
    EXPECT_EQ(qcl::systemErrorText(54322), std::wstring(600, L'x'));
}

TEST(RuntimeError, CopyBuildsItsOwnNarrowTextAndBadTextGivesTheTypeName)
{
    qcl::basic_runtime_error<wchar_t> original(L"caf\xE9");
    EXPECT_STREQ(original.what(), "caf\xC3\xA9");
    qcl::basic_runtime_error<wchar_t> copy(original);
    EXPECT_STREQ(copy.what(), original.what());
    EXPECT_NE(static_cast<const void*>(copy.what()), static_cast<const void*>(original.what()));

    SystemError bad(std::wstring(L"\xD800"), 5);
    EXPECT_STREQ(bad.what(), "qcl::SystemError");
}

namespace
{
template <class T>
std::wstring messageOf(T thrown)
{
    try
    {
        throw thrown;
    }
    catch (...)
    {
        return qcl::currentExceptionMessage();
    }
}
} // namespace

TEST(CurrentExceptionMessage, TakesTheRichestTextOfEachKind)
{
    EXPECT_EQ(messageOf("caf\xC3\xA9"), L"caf\xE9");
    EXPECT_EQ(messageOf(static_cast<const char*>("bad \xC3")), std::wstring(L"bad \xFFFD"));
    EXPECT_EQ(messageOf(static_cast<const wchar_t*>(nullptr)), L"");
    EXPECT_EQ(messageOf(L"wide"), L"wide");
    EXPECT_EQ(messageOf(std::string("narrow")), L"narrow");
    EXPECT_EQ(messageOf(std::wstring(L"wide string")), L"wide string");
    EXPECT_EQ(messageOf(qcl::basic_runtime_error<wchar_t>(std::wstring(L"\xD800"))), std::wstring(L"\xD800"));
    EXPECT_EQ(messageOf(qcl::basic_runtime_error<char>("plain")), L"plain");
    EXPECT_EQ(messageOf(std::runtime_error("std")), L"std");
    EXPECT_EQ(messageOf(42), L"Exception of unknown type");
}

TEST(CheckedCall, FailureNamesTheExpressionAndCarriesTheLastError)
{
    SetLastError(5);
    try
    {
        QCL_CHECK_WIN32(1 == 2, L"Cannot continue");
        FAIL();
    }
    catch (const SystemError& error)
    {
        const std::wstring message = error.message();
        EXPECT_NE(message.find(L"the expression (1 == 2) failed: Cannot continue: Windows error 5: "),
                  std::wstring::npos)
            << message;
        EXPECT_EQ(message.rfind(L"In function TestBody, in file ", 0), 0u) << message;
    }
}

TEST(ComException, ComposesMessageAndPublishesTheDescription)
{
    com_exception error(E_INVALIDARG, L"Bad level", L"CLog");
    EXPECT_EQ(error.message(), L"In CLog: Bad level: Error 0x80070057: The parameter is incorrect.");
    EXPECT_EQ(error.result(), E_INVALIDARG);

    try
    {
        throwIfFailed(E_FAIL);
        FAIL();
    }
    catch (const com_exception& thrown)
    {
        // The description published by the previous exception is taken up here.
        EXPECT_EQ(thrown.message(), L"Bad level: Error 0x80004005: Unspecified error");
    }
    EXPECT_NO_THROW(throwIfFailed(S_FALSE));
    com_exception bare(E_FAIL);
    EXPECT_EQ(compat::takeErrorInfoDescription().value_or(L""), L"Error 0x80004005");
}

TEST(LastError, MapsErrnoTheWayFileCallersExpect)
{
    EXPECT_EQ(compat::windowsErrorFromErrno(ENOENT, "/tmp/no-such-file"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(compat::windowsErrorFromErrno(ENOENT, "/tmp/no-such-folder/file"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(compat::windowsErrorFromErrno(EEXIST), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(compat::windowsErrorFromErrno(EEXIST, nullptr, compat::ErrnoUse::CreateNewFile), ERROR_FILE_EXISTS);
    EXPECT_EQ(compat::windowsErrorFromErrno(ENOTEMPTY), ERROR_DIR_NOT_EMPTY);
    EXPECT_EQ(compat::windowsErrorFromErrno(EPERM), ERROR_ACCESS_DENIED);
    EXPECT_EQ(compat::windowsErrorFromErrno(ENOSPC), ERROR_DISK_FULL);
    EXPECT_EQ(compat::setLastErrorFromErrno(EXDEV), ERROR_NOT_SAME_DEVICE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SAME_DEVICE);
}
