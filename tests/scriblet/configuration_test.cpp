// Configuring a subsystem: the environment the library sets, where the template and the generated
// file are found (registry values, defaults), and when the file is generated again.
#include "qcl/Error.h"
#include "scriblet/Configuration.h"
#include "scriblet/Folders.h"
#include "scriblet/LogWriter.h"
#include "tests/scriblet/LoggingScratch.h"

#include <gtest/gtest.h>

#include <memory>

#include <unistd.h>

namespace
{
namespace fs = std::filesystem;

test::LoggingScratch scratch;

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string("<unset>") : std::string(value);
}

std::string templateText(const std::string& logFile)
{
    return "log4cplus.rootLogger=INFO, A\n"
           "log4cplus.appender.A=log4cplus::FileAppender\n"
           "log4cplus.appender.A.Append=true\n"
           "log4cplus.appender.A.File=" + logFile + "\n"
           "log4cplus.appender.A.layout=log4cplus::PatternLayout\n"
           "log4cplus.appender.A.layout.ConversionPattern=%m%n\n";
}

void configure(const std::wstring& subsystem)
{
    LoggingSystem system;
    system.PutSubsystem(subsystem);
}

void log(const std::wstring& subsystem, const std::wstring& text)
{
    LoggingSystem system;
    system.PutSubsystem(subsystem);
    std::unique_ptr<LogWriter> writer(system.CreateLogWriter(L""));
    writer->Message(20000, text, nullptr, -1);
}

void makeOlder(const std::string& path)
{
    fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
}
} // namespace

TEST(Configuration, SetsTheEnvironmentOfTheTemplates)
{
    ::setenv("USERPROFILE", "/home/someone", 1);
    LoggingSystem::Configuration::set_up_environment();
    EXPECT_EQ(environment("QUILLMERE_APP_DATA"), scratch.applicationData());
    EXPECT_EQ(environment("LOG_PROFILE"), scratch.applicationData() + "/Logging");

    ::setenv("USERPROFILE", "C:\\Windows\\system32\\config\\systemprofile", 1);
    LoggingSystem::Configuration::set_up_environment();
    EXPECT_EQ(environment("LOG_PROFILE"), scriblet::libraryFolder());

    ::unsetenv("USERPROFILE");
    LoggingSystem::Configuration::set_up_environment();
    EXPECT_EQ(environment("USERPROFILE"), environment("HOME"));
    EXPECT_EQ(environment("LOG_PROFILE"), scratch.applicationData() + "/Logging");
}

TEST(Configuration, FindsTheTemplateThroughTheRegistryAndExpandsItsFolders)
{
    ::setenv("SCRIBLET_TEST_ROOT", scratch.root().c_str(), 1);
    scratch.write("registry/templates/scriblet.Reg.cfg", templateText("%LOG_PROFILE%/reg.log"));
    // The machine's value counts when the user has none.
    scratch.setUserRegistry("[SOFTWARE\\Quillmere\\Logging\\Reg]\nCfgTargetDir=%SCRIBLET_TEST_ROOT%/registry/out\n");
    scratch.setMachineRegistry("[software\\quillmere\\logging\\reg]\ncfgsourcedir=%SCRIBLET_TEST_ROOT%/registry/templates\n");

    EXPECT_EQ(LoggingSystem::Configuration::generate_cfg_file(L"Reg"), scratch.path("registry/out/scriblet.cfg"));
    EXPECT_EQ(test::readLines(scratch.path("registry/out/scriblet.cfg")).at(3),
              "log4cplus.appender.A.File=${LOG_PROFILE}/reg.log");

    log(L"Reg", L"through the registry");
    EXPECT_EQ(test::readFile(scratch.applicationData() + "/Logging/reg.log"), "through the registry\n");
    scratch.setUserRegistry("");
    scratch.setMachineRegistry("");
}

TEST(Configuration, WithoutSourceFolderTheTargetValueIsIgnoredAndDefaultsHold)
{
    // No CfgSourceDir: the template is read from the library's folder, which test programs running at
    // the same time share; the subsystem name keeps this one's template apart.
    const std::string subsystem = "DefaultsTest" + std::to_string(::getpid());
    const std::string libraryTemplate = scriblet::libraryFolder() + "/scriblet." + subsystem + ".cfg";
    std::ofstream(libraryTemplate) << templateText(scratch.path("defaults.log"));
    scratch.setUserRegistry("[SOFTWARE\\Quillmere\\Logging\\" + subsystem + "]\nCfgTargetDir=" + scratch.path("ignored") +
                            "\n");

    EXPECT_EQ(LoggingSystem::Configuration::generate_cfg_file(std::wstring(subsystem.begin(), subsystem.end())),
              scratch.applicationData() + "/" + subsystem + "/scriblet.cfg");
    EXPECT_TRUE(fs::exists(scratch.applicationData() + "/" + subsystem + "/scriblet.cfg"));
    EXPECT_FALSE(fs::exists(scratch.path("ignored")));
    fs::remove(libraryTemplate);
    scratch.setUserRegistry("");
}

TEST(Configuration, RegeneratesOnlyWhenTheTemplateIsNewer)
{
    scratch.write("regen/scriblet.Regen.cfg", templateText(scratch.path("regen-1.log")));
    scratch.setUserRegistry("[SOFTWARE\\Quillmere\\Logging\\Regen]\nCfgSourceDir=" + scratch.path("regen") +
                            "\nCfgTargetDir=" + scratch.path("regen/out") + "\n");
    const std::string templatePath = scratch.path("regen/scriblet.Regen.cfg");
    const std::string generated = scratch.path("regen/out/scriblet.cfg");
    makeOlder(templatePath);
    log(L"Regen", L"first");

    // A generated file edited by hand stays in force while the template is older.
    std::ofstream(generated, std::ios::trunc) << templateText(scratch.path("regen-edited.log"));
    log(L"Regen", L"second");

    // A touched template is generated again.
    scratch.write("regen/scriblet.Regen.cfg", templateText(scratch.path("regen-2.log")));
    fs::last_write_time(templatePath, fs::file_time_type::clock::now() + std::chrono::minutes(1));
    log(L"Regen", L"third");

    EXPECT_EQ(test::readFile(scratch.path("regen-1.log")), "first\n");
    EXPECT_EQ(test::readFile(scratch.path("regen-edited.log")), "second\n");
    EXPECT_EQ(test::readFile(scratch.path("regen-2.log")), "third\n");
    scratch.setUserRegistry("");
}

TEST(Configuration, ATargetFolderThatCannotBeMadeThrows)
{
    scratch.write("blocked/scriblet.Blocked.cfg", templateText(scratch.path("blocked.log")));
    scratch.write("blocked/file", "not a folder");
    scratch.setUserRegistry("[SOFTWARE\\Quillmere\\Logging\\Blocked]\nCfgSourceDir=" + scratch.path("blocked") +
                            "\nCfgTargetDir=" + scratch.path("blocked/file/out") + "\n");
    try
    {
        configure(L"Blocked");
        FAIL() << "no exception";
    }
    catch (const qcl::SystemError& error)
    {
        EXPECT_NE(std::string(error.what()).find("Cannot create directory '" + scratch.path("blocked/file/out") + "'"),
                  std::string::npos)
            << error.what();
    }
    scratch.setUserRegistry("");
}

TEST(Configuration, ASubsystemNameIsOneFolderOfTheApplicationDataTakenAsItIs)
{
    const auto modeOf = [](const std::string& path)
    { return static_cast<unsigned>(fs::status(path).permissions() & fs::perms::mask); };
    const std::string outside = scratch.path("outside");
    fs::create_directories(outside);
    fs::permissions(outside, fs::perms(0755));
    // From the application data, $XDG_DATA_HOME/quillmere, up to the scratch folder and into "outside".
    ::setenv("SCRIBLET_ESCAPE", "../../outside", 1);
    scratch.write("names/scriblet.%SCRIBLET_ESCAPE%.cfg", templateText(scratch.path("names.log")));
    scratch.setUserRegistry(
        "[SOFTWARE\\Quillmere\\Logging\\%SCRIBLET_ESCAPE%]\nCfgSourceDir=" + scratch.path("names") + "\n");

    log(L"%SCRIBLET_ESCAPE%", L"kept inside");
    EXPECT_TRUE(fs::exists(scratch.applicationData() + "/%SCRIBLET_ESCAPE%/scriblet.cfg"));
    EXPECT_EQ(test::readFile(scratch.path("names.log")), "kept inside\n");
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(modeOf(outside), 0755u);

    // A name that is no single folder configures nothing and changes nothing.
    const std::string dataHome = scratch.path("data");
    fs::permissions(dataHome, fs::perms(0755));
    for (const wchar_t* name : {L"..", L".", L"../..", L"a/../.."})
        configure(name);
    EXPECT_EQ(modeOf(dataHome), 0755u);
    EXPECT_FALSE(fs::exists(dataHome + "/scriblet.cfg"));
    scratch.setUserRegistry("");
}

TEST(Configuration, EachSubsystemHasItsOwnHierarchy)
{
    EXPECT_EQ(&LoggingSystem::Configuration::hierarchy_for(L"One"), &LoggingSystem::Configuration::hierarchy_for(L"One"));
    EXPECT_NE(&LoggingSystem::Configuration::hierarchy_for(L"One"), &LoggingSystem::Configuration::hierarchy_for(L"Two"));
}
