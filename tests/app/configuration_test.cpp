#include "app/Configuration.h"

#include "compat/DataProtection.h"
#include "compat/KnownFolders.h"
#include "json_spirit/Error.h"
#include "qcl/Error.h"
#include "qcl/String.h"

#include "../support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{
using dwl::Configuration;

const std::string bom = "\xEF\xBB\xBF";

std::string contentOf(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

Configuration everySetting()
{
    Configuration record;
    record.version = {1, 13, 0};
    record.wayfoldFolderLocation = L"/srv/\u00DCbersicht \"quoted\" \\ \t";
    record.userName = L"user@example.com";
    record.userId = qcl::uint128::fromHalves(0x0123456789abcdefull, 0xfedcba9876543210ull);
    record.deviceId = qcl::uint128::fromHalves(1, 2);
    record.password = L"p\u00E4ss\xD83D\xDE00\x01";
    record.proxy = "http://proxy.example:3128";
    record.server = L"Local";
    record.rescanIntervalInSeconds = 42;
    record.mustShowConfigurationDialog = false;
    record.mustMonitorFolder = false;
    record.documentBlackList = std::vector<std::wstring>{L"~$*", L"*.tmp"};
    record.folderBlackList = std::vector<std::wstring>{};
    return record;
}

class ConfigurationTest : public testing::Test
{
protected:
    void SetUp() override
    {
        compat::setDataProtectionKeyFile(mFolder / "key/UserKey");
        compat::setKnownFolderForTesting(FOLDERID_Profile, L"/home/tester");
    }

    void TearDown() override
    {
        compat::setDataProtectionKeyFile({});
        compat::setKnownFolderForTesting(FOLDERID_Profile, std::nullopt);
    }

    // Loads the file holding `text` into a record with every default.
    Configuration loadText(const std::string& text)
    {
        mFolder.writeFile("Configuration", text);
        Configuration record = Configuration::withDefaults();
        Configuration::load(record, mWidePath);
        return record;
    }

    test::ScratchFolder mFolder;
    std::string mPath = mFolder / "Configuration";
    std::wstring mWidePath = qcl::string::utf8ToUtf16(mPath);
};
} // namespace

TEST_F(ConfigurationTest, DefaultRecordIsWrittenAsTwoLines)
{
    Configuration::save(Configuration::withDefaults(), mWidePath);
    EXPECT_EQ(contentOf(mPath),
              bom +
                  "\"MustShowConfigurationDialog\": true\r\n\"WayfoldFolderLocation\": \"/home/tester\"\r\n");
    struct stat status = {};
    ASSERT_EQ(::stat(mPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mFolder.path()), {}), 1)
        << "a temporary file is left";
}

TEST_F(ConfigurationTest, EverySettingRoundTripsInItsOrderWithoutTheClearPassword)
{
    const Configuration written = everySetting();
    Configuration::save(written, mWidePath);
    const std::string text = contentOf(mPath);

    const std::vector<std::string> keys = {"Version",
                                           "MustShowConfigurationDialog",
                                           "MustMonitorFolder",
                                           "RescanIntervalInSeconds",
                                           "WayfoldFolderLocation",
                                           "Proxy",
                                           "Server",
                                           "UserName",
                                           "UserId",
                                           "Password",
                                           "DeviceId",
                                           "DocumentBlackList",
                                           "FolderBlackList"};
    std::size_t position = 0;
    for (const std::string& key : keys)
    {
        const std::size_t found = text.find("\"" + key + "\": ", position);
        ASSERT_NE(found, std::string::npos) << key << " missing or out of order in\n" << text;
        position = found;
    }
    EXPECT_EQ(text.rfind(bom + "\"Version\": [1,13,0]\r\n", 0), 0u);
    EXPECT_NE(text.find("\"UserId\": \"0123-4567-89ab-cdef-fedc-ba98-7654-3210\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"DocumentBlackList\": [\"~$*\",\"*.tmp\"]\r\n\"FolderBlackList\": []\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\\\"quoted\\\" \\\\ \\t"), std::string::npos);
    EXPECT_EQ(text.find("p\xC3\xA4ss"), std::string::npos);

    Configuration read;
    Configuration::load(read, mWidePath);
    EXPECT_EQ(read, written);
}

TEST_F(ConfigurationTest, AbsentKeysGiveTheirDefaults)
{
    Configuration record = everySetting();
    record.version = {};
    mFolder.writeFile("Configuration", bom + "Unknown: [1, {\"x\": null}]\n");
    Configuration::load(record, mWidePath);
    Configuration expected = Configuration::withDefaults();
    EXPECT_EQ(record, expected);

    // Bare and quoted keys read alike, with or without commas and byte-order mark.
    const Configuration bare =
        loadText("MustMonitorFolder: true, RescanIntervalInSeconds: 600\nServer: \"S\"");
    const Configuration quoted =
        loadText(bom + "\"MustMonitorFolder\": true\n\"RescanIntervalInSeconds\": 600\n\"Server\": \"S\"");
    EXPECT_EQ(bare, quoted);
    EXPECT_EQ(bare.server, L"S");
    EXPECT_TRUE(bare.mustShowConfigurationDialog);
    EXPECT_EQ(bare.wayfoldFolderLocation, L"/home/tester");

    const Configuration emptyList = loadText("DocumentBlackList: []");
    ASSERT_TRUE(emptyList.documentBlackList.has_value());
    EXPECT_TRUE(emptyList.documentBlackList->empty());
    EXPECT_FALSE(emptyList.folderBlackList.has_value());
}

TEST_F(ConfigurationTest, FieldsReadBeforeAFailingKeyKeepTheirValues)
{
    mFolder.writeFile("Configuration",
                      "Version: [2,0,1]\nMustShowConfigurationDialog: false\nUserName: \"u\"\n"
                      "UserId: \"0123-4567\"\nDeviceId: \"0000-0000-0000-0000-0000-0000-0000-0009\"");
    Configuration record = Configuration::withDefaults();
    EXPECT_THROW(Configuration::load(record, mWidePath), qcl::uint128::ParseError);
    EXPECT_EQ(record.version, (dwl::Version{2, 0, 1}));
    EXPECT_FALSE(record.mustShowConfigurationDialog);
    EXPECT_EQ(record.userName, L"u");
    EXPECT_TRUE(record.userId.isNil());
    EXPECT_TRUE(record.deviceId.isNil());

    EXPECT_THROW(loadText("Version: [1,13]"), json_spirit::TypeError);
    EXPECT_THROW(loadText("Version: 1"), json_spirit::TypeError);
    EXPECT_THROW(loadText("MustMonitorFolder: \"no\""), json_spirit::TypeError);
    EXPECT_THROW(loadText("RescanIntervalInSeconds: 4294967296"), std::overflow_error);
    EXPECT_THROW(loadText("UserId: 5"), json_spirit::TypeError);
    EXPECT_THROW(loadText("{}"), json_spirit::ParseError);
    Configuration untouched;
    EXPECT_THROW(Configuration::load(untouched, qcl::string::utf8ToUtf16(mFolder / "missing")),
                 std::exception);
}

TEST_F(ConfigurationTest, PasswordThatDoesNotUnprotectFailsTheLoad)
{
    Configuration::save(everySetting(), mWidePath);
    compat::setDataProtectionKeyFile(mFolder / "otherKey/UserKey");
    Configuration record = Configuration::withDefaults();
    try
    {
        Configuration::load(record, mWidePath);
        FAIL() << "no error";
    }
    catch (const std::runtime_error& error)
    {
        EXPECT_STREQ(error.what(), "Decryption error");
    }
    EXPECT_EQ(record.userName, L"user@example.com");
    EXPECT_TRUE(record.password.empty());

    EXPECT_THROW(loadText("Password: \"ABC\""), std::runtime_error);
    EXPECT_THROW(loadText("Password: \"0G\""), std::runtime_error);
    EXPECT_EQ(loadText("Password: \"\"").password, L"");
}

TEST_F(ConfigurationTest, FailedSaveLeavesThePreviousFile)
{
    Configuration::save(everySetting(), mWidePath);
    const std::string before = contentOf(mPath);

    mFolder.writeFile("broken-key", "short");
    compat::setDataProtectionKeyFile(mFolder / "broken-key");
    Configuration changed = everySetting();
    changed.userName = L"other@example.com";
    EXPECT_THROW(Configuration::save(changed, mWidePath), qcl::SystemError);
    EXPECT_EQ(contentOf(mPath), before);

    const std::string folder = mFolder.makeDirectory("folder/inside");
    EXPECT_THROW(
        Configuration::save(Configuration::withDefaults(), qcl::string::utf8ToUtf16(mFolder / "folder")),
        qcl::basic_runtime_error<wchar_t>);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_FALSE(std::filesystem::exists(mFolder / "folder.new"));

    const std::wstring unreachable = qcl::string::utf8ToUtf16(mFolder / "missing/Configuration");
    try
    {
        Configuration::save(Configuration::withDefaults(), unreachable);
        FAIL() << "no error";
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        EXPECT_EQ(error.message(),
                  L"Cannot save configuration file '" + unreachable + L"': Cannot open file");
    }
}
