// The template parser: the generated property file, includes, expanded File values and logger entries.
#include "scriblet/Cfg.h"
#include "compat/KnownFolders.h"
#include "tests/scriblet/LoggingScratch.h"

#include <log4cplus/loglevel.h>

#include <gtest/gtest.h>

namespace
{
test::LoggingScratch scratch;
}

TEST(Cfg, GeneratesThePropertyFileWithIncludesInPlaceAndExpandedFiles)
{
    scratch.write("gen/main.cfg", "# comment\r\n"
                                  "\n"
                                  "log4cplus.rootLogger=INFO, A\r\n"
                                  "@include common.cfg\n"
                                  "log4cplus.appender.A.File=%LOG_PROFILE%/app.log\n"
                                  "log4cplus.appender.B.File=logs/../logs/b.log\n"
                                  "log4cplus.appender.C.File=/var/log/c.log\n");
    scratch.write("gen/common.cfg", "log4cplus.appender.A=log4cplus::RollingFileAppender\n"
                                    "  # indented comment\n");
    scriblet::Cfg cfg;
    ASSERT_TRUE(cfg.Parse(scratch.path("gen/main.cfg"), scratch.path("gen/out/scriblet.cfg")) == false);
    // The output folder must exist; with it the file is written.
    std::filesystem::create_directories(scratch.path("gen/out"));
    ASSERT_TRUE(cfg.Parse(scratch.path("gen/main.cfg"), scratch.path("gen/out/scriblet.cfg")));
    EXPECT_EQ(test::readFile(scratch.path("gen/out/scriblet.cfg")),
              "log4cplus.rootLogger=INFO, A\n"
              "log4cplus.appender.A=log4cplus::RollingFileAppender\n"
              "log4cplus.appender.A.File=${LOG_PROFILE}/app.log\n"
              "log4cplus.appender.B.File=" + scratch.path("gen/logs/b.log") + "\n"
              "log4cplus.appender.C.File=/var/log/c.log\n");
    EXPECT_EQ(cfg.appenderFiles().at("A"), "${LOG_PROFILE}/app.log");
    EXPECT_EQ(cfg.appenderFiles().at("B"), scratch.path("gen/logs/b.log"));
    // No temporary file is left beside the output.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path("gen/out")), {}), 1);
}

TEST(Cfg, AnIncludeCycleIsReportedInsteadOfFollowed)
{
    scratch.write("cycle/a.cfg", "log4cplus.rootLogger=INFO, A\n@include b.cfg\nlog4cplus.logger.after=WARN\n");
    scratch.write("cycle/b.cfg", "log4cplus.logger.inB=ERROR\n@include " + scratch.path("cycle/a.cfg") + "\n");
    std::filesystem::create_directories(scratch.path("cycle/out"));
    scriblet::Cfg cfg;
    ASSERT_TRUE(cfg.Parse(scratch.path("cycle/a.cfg"), scratch.path("cycle/out/scriblet.cfg")));
    EXPECT_EQ(test::readFile(scratch.path("cycle/out/scriblet.cfg")),
              "log4cplus.rootLogger=INFO, A\nlog4cplus.logger.inB=ERROR\nlog4cplus.logger.after=WARN\n");
    EXPECT_EQ(cfg.currentTemplate(), "");
}

TEST(Cfg, LoggerEntriesInheritTheAppendersOfTheirParent)
{
    scratch.write("loggers/t.cfg", "log4cplus.logger.Wayfold=DEBUG, A, B\n"
                                   "log4cplus.logger.Wayfold.Sync=WARN\n"
                                   "log4cplus.logger.Other = ERROR\n");
    scriblet::Cfg cfg;
    ASSERT_TRUE(cfg.Parse(scratch.path("loggers/t.cfg")));
    const auto& loggers = cfg.loggers();
    ASSERT_EQ(loggers.size(), 3u);
    EXPECT_EQ(loggers.at("Wayfold").appenders, "A, B");
    EXPECT_EQ(loggers.at("Wayfold").level, log4cplus::DEBUG_LOG_LEVEL);
    const auto& sync = loggers.at("Wayfold.Sync");
    EXPECT_EQ(sync.parent, "Wayfold");
    EXPECT_EQ(sync.last, "Sync");
    EXPECT_EQ(sync.level, log4cplus::WARN_LOG_LEVEL);
    EXPECT_EQ(sync.appenders, "A, B");
    EXPECT_EQ(loggers.at("Other").appenders, "");
    EXPECT_EQ(loggers.at("Other").parent, "");
}

TEST(Cfg, SpecialFoldersAndVariablesInFileValues)
{
    compat::setKnownFolderForTesting(FOLDERID_LocalAppData, L"/home/someone/.local/share");
    ::setenv("USERPROFILE", "/home/someone", 1);
    scriblet::Cfg cfg;
    cfg.setCurrentTemplate("/etc/templates/t.cfg");
    bool changed = false;
    EXPECT_EQ(cfg.expand_variables("%@LOCAL_APPDATA%/x/%NAME%.log", changed), "${USERPROFILE}/.local/share/x/${NAME}.log");
    EXPECT_TRUE(changed);
    EXPECT_EQ(cfg.expand_variables("%@UNKNOWN%/50% of %%", changed), "%@UNKNOWN%/50% of %%");
    EXPECT_FALSE(changed);
    EXPECT_EQ(cfg.expand_path("logs/a.log"), "/etc/templates/logs/a.log");
    EXPECT_EQ(cfg.expand_path("%TEMP%/a.log"), "${TEMP}/a.log");
    compat::setKnownFolderForTesting(FOLDERID_LocalAppData, std::nullopt);

    std::string line = "log4cplus.appender.X.File=  logs/x.log  ";
    EXPECT_TRUE(cfg.parse_appender_file(line));
    EXPECT_EQ(line, "log4cplus.appender.X.File=/etc/templates/logs/x.log");
    std::string other = "log4cplus.appender.X.MaxFileSize=1MB";
    EXPECT_FALSE(cfg.parse_appender_file(other));
}

TEST(Cfg, AMissingTemplateIsAFailureWithoutOutput)
{
    scriblet::Cfg cfg;
    EXPECT_FALSE(cfg.Parse(scratch.path("none/t.cfg")));
    std::filesystem::create_directories(scratch.path("none/out"));
    EXPECT_FALSE(cfg.Parse(scratch.path("none/t.cfg"), scratch.path("none/out/scriblet.cfg")));
    EXPECT_FALSE(std::filesystem::exists(scratch.path("none/out/scriblet.cfg")));
}
