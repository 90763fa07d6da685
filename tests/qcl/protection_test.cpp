#include "qcl/Protection.h"

#include "compat/DataProtection.h"
#include "qcl/Error.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace
{
const std::vector<unsigned char> someEntropy(32, 0x11);

class ProtectionTest : public testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/protection_test.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        mFolder = pattern;
        useKey("first");
    }

    void TearDown() override
    {
        compat::setDataProtectionKeyFile({});
        std::filesystem::remove_all(mFolder);
    }

    std::string keyFile(const std::string& name) const { return mFolder + "/" + name + "/UserKey"; }
    void useKey(const std::string& name) { compat::setDataProtectionKeyFile(keyFile(name)); }

    std::string mFolder;
};

void expectDecryptionError(const std::string& hex)
{
    try
    {
        dwl::decryptPassword(hex);
        FAIL() << "no error for '" << hex << "'";
    }
    catch (const std::runtime_error& error)
    {
        EXPECT_STREQ(error.what(), "Decryption error");
    }
}
} // namespace

TEST_F(ProtectionTest, PasswordsRoundTripAndNeverProtectTwiceAlike)
{
    const std::wstring password = L"p\u00E4ss w\u20ACrd \xD83D\xDE00";
    const std::string first = dwl::encryptPassword(password);
    const std::string second = dwl::encryptPassword(password);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(dwl::decryptPassword(first), password);
    EXPECT_EQ(dwl::decryptPassword(second), password);

    const std::string empty = dwl::encryptPassword(L"");
    EXPECT_FALSE(empty.empty());
    EXPECT_EQ(dwl::decryptPassword(empty), L"");
    EXPECT_EQ(dwl::decryptPassword(""), L"");
}

TEST_F(ProtectionTest, KeyFileIsCreatedPrivateAndKeptForLaterCalls)
{
    const std::string hex = dwl::encryptPassword(L"secret");
    struct stat status = {};
    ASSERT_EQ(::stat(keyFile("first").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(status.st_size, 32);
    ASSERT_EQ(::stat((mFolder + "/first").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(dwl::decryptPassword(hex), L"secret");
}

TEST_F(ProtectionTest, AnotherKeyOrOtherEntropyFails)
{
    const std::string hex = dwl::encryptPassword(L"secret");
    useKey("second");
    expectDecryptionError(hex);
    useKey("first");
    EXPECT_EQ(dwl::decryptPassword(hex), L"secret");

    const std::string text = dwl::encryptString("text", someEntropy, 32);
    EXPECT_EQ(dwl::decryptString(text, someEntropy, 32), "text");
    EXPECT_THROW(dwl::decryptString(text, std::vector<unsigned char>(32, 0x12), 32), std::runtime_error);
    EXPECT_THROW(dwl::decryptString(text, {}, 32), std::runtime_error);
}

TEST_F(ProtectionTest, MalformedOrDamagedTextFails)
{
    const std::string hex = dwl::encryptPassword(L"secret");
    expectDecryptionError("0A1B");
    expectDecryptionError(hex.substr(0, hex.size() - 2));
    expectDecryptionError(hex.substr(0, hex.size() - 1));
    expectDecryptionError(hex.substr(0, hex.size() - 1) + "G");
    expectDecryptionError(hex.substr(0, 10) + " " + hex.substr(11));
    std::string flipped = hex;
    flipped[hex.size() / 2] = flipped[hex.size() / 2] == '0' ? '1' : '0';
    expectDecryptionError(flipped);
}

TEST_F(ProtectionTest, OutputShorterThanThePrefixFails)
{
    const std::string shortText = dwl::encryptString("abc", someEntropy, 0);
    EXPECT_EQ(dwl::decryptString(shortText, someEntropy, 3), "");
    EXPECT_THROW(dwl::decryptString(shortText, someEntropy, 4), std::runtime_error);
}

TEST_F(ProtectionTest, UnusableKeyFileIsAnErrorAndIsNotReplaced)
{
    std::filesystem::create_directories(mFolder + "/broken");
    std::ofstream(keyFile("broken")) << "short";
    useKey("broken");
    EXPECT_THROW(dwl::encryptPassword(L"secret"), qcl::SystemError);
    EXPECT_EQ(std::filesystem::file_size(keyFile("broken")), 5u);
}

// A key that others could read, or that another user could have planted, protects nothing: it is refused and
// the stored password cannot be read back.
TEST_F(ProtectionTest, KeyFileOpenToOthersOrOfAnotherUserIsRefused)
{
    const std::string stored = dwl::encryptPassword(L"secret");
    ::chmod(keyFile("first").c_str(), 0644);
    expectDecryptionError(stored);
    ::chmod(keyFile("first").c_str(), 0600);
    EXPECT_EQ(dwl::decryptPassword(stored), L"secret");
    if (::geteuid() == 0)
    {
        ASSERT_EQ(::chown(keyFile("first").c_str(), 65534, 65534), 0);
        expectDecryptionError(stored);
    }
}
