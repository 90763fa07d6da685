// A logging library that cannot be set up fails the first log statement, and the next statement tries
// again.
#include "qcl/Error.h"
#include "qcl/Log.h"
#include "tests/scriblet/LoggingScratch.h"

#include <gtest/gtest.h>

TEST(LoggerCreation, AFailedCreationPropagatesAndTheNextStatementTriesAgain)
{
    test::LoggingScratch scratch;
    scratch.write("templates/scriblet.Wayfold.cfg", "log4cplus.rootLogger=INFO, F\n"
                                                    "log4cplus.appender.F=log4cplus::FileAppender\n"
                                                    "log4cplus.appender.F.File=" + scratch.path("made.log") + "\n"
                                                    "log4cplus.appender.F.layout=log4cplus::PatternLayout\n"
                                                    "log4cplus.appender.F.layout.ConversionPattern=%m%n\n");
    // The configuration folder would have to be made below a file.
    scratch.write("blocker", "");
    scratch.setUserRegistry("[SOFTWARE\\Quillmere\\Logging\\Wayfold]\nCfgSourceDir=" + scratch.path("templates") +
                            "\nCfgTargetDir=" + scratch.path("blocker/out") + "\n");
    EXPECT_THROW(QCL_LOG_INFO(L"first"), qcl::SystemError);

    scratch.setUserRegistry("[SOFTWARE\\Quillmere\\Logging\\Wayfold]\nCfgSourceDir=" + scratch.path("templates") +
                            "\nCfgTargetDir=" + scratch.path("out") + "\n");
    EXPECT_NO_THROW(QCL_LOG_INFO(L"second"));
    EXPECT_EQ(test::readFile(scratch.path("made.log")),
              "LoggerCreation_AFailedCreationPropagatesAndTheNextStatementTriesAgain_Test::TestBody\tsecond\n");
}
