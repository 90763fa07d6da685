// Scope guards: the clean-up runs once at the end of the scope, and a failing clean-up is logged and
// swallowed.
#include "qcl/qcl_scope.h"
#include "tests/scriblet/LoggingScratch.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace
{
// Log lines go to the scratch folder through the template installed beside the library.
test::LoggingScratch scratch;

std::string logText()
{
    return test::readFile(scratch.applicationData() + "/Logging/Wayfold.log");
}

std::size_t countOf(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}
} // namespace

TEST(ScopeGuard, RunsOnceAtTheEndOfItsScopeUnlessDismissed)
{
    int runs = 0;
    {
        auto guard = qcl::scope::makeGuard([&] { ++runs; });
        EXPECT_TRUE(guard.active());
        auto moved = std::move(guard);
        EXPECT_FALSE(guard.active());
        EXPECT_EQ(runs, 0);
    }
    EXPECT_EQ(runs, 1);
    {
        qcl::scope::Guard guard([&] { ++runs; });
        guard.dismiss();
    }
    EXPECT_EQ(runs, 1);
}

TEST(ScopeGuard, AFailingCleanUpLeavesOneErrorLineAndTheScopeEndsNormally)
{
    const auto before = countOf(logText(), "::~Guard\t ??? exception.");
    bool after = false;
    EXPECT_NO_THROW({
        qcl::scope::Guard guard([] { throw std::runtime_error("clean-up failed"); });
    });
    after = true;
    EXPECT_TRUE(after);

    const std::string log = logText();
    EXPECT_EQ(countOf(log, "::~Guard\t ??? exception."), before + 1);
    EXPECT_NE(log.find("ERROR"), std::string::npos);
    EXPECT_NE(log.find("qcl::scope::Guard<"), std::string::npos) << log;
}
