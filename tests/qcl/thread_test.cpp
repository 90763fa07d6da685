// Named and interruptible threads: the start and join protocol, failures kept and reported, stop
// requests ending waits at once.
#include "qcl/Error.h"
#include "qcl/Thread.h"
#include "tests/scriblet/LoggingScratch.h"

#include <gtest/gtest.h>

#include <future>
#include <system_error>

namespace
{
// Log lines go to the scratch folder through the template installed beside the library.
test::LoggingScratch scratch;

class Body : public qcl::InterruptibleThread
{
public:
    Body() : InterruptibleThread(L"Test") {}
    ~Body() override { stop(); }

    std::function<void(Body&)> action = [](Body&) {};
    using InterruptibleThread::checkInterruption;
    using InterruptibleThread::waitFor;

protected:
    void run() override { action(*this); }
};
} // namespace

TEST(InterruptibleThread, WaitForZeroReturnsAtOnceUnlessStopped)
{
    Body body;
    EXPECT_NO_THROW(body.waitFor(0));
    EXPECT_NO_THROW(body.waitFor(-5));
    body.interrupt();
    EXPECT_THROW(body.waitFor(0), qcl::NamedThread::ThreadMustStop);
    EXPECT_THROW(body.checkInterruption(), qcl::NamedThread::ThreadMustStop);
    body.clearInterruption();
    EXPECT_NO_THROW(body.checkInterruption());
}

TEST(InterruptibleThread, AStopRequestEndsALongWaitQuietly)
{
    Body body;
    int callbacks = 0;
    body.setErrorCallback([&](qcl::NamedThread*) { ++callbacks; });
    std::promise<void> waiting;
    body.action = [&](Body& self) {
        waiting.set_value();
        self.waitFor(3600);
        ADD_FAILURE() << "the wait ended without a stop request";
    };
    body.start();
    waiting.get_future().wait();
    body.interrupt();
    body.join();
    EXPECT_FALSE(body.isRunning());
    EXPECT_EQ(callbacks, 0);
    EXPECT_EQ(body.exception(), nullptr);
    body.clearInterruption();

    // The same object runs again after the join.
    bool ranAgain = false;
    body.action = [&](Body&) { ranAgain = true; };
    body.start();
    body.join();
    EXPECT_TRUE(ranAgain);
}

TEST(NamedThread, AFailingBodyKeepsItsExceptionAndCallsTheCallbackOnce)
{
    Body body;
    std::vector<std::wstring> reports;
    body.setErrorCallback([&](qcl::NamedThread* thread) {
        try
        {
            throw;
        }
        catch (const qcl::SystemError& error)
        {
            reports.push_back(thread->name() + L": " + error.message());
        }
    });
    body.action = [](Body&) { throw qcl::SystemError(L"Cannot open 'x'", ERROR_ACCESS_DENIED); };
    body.start();
    body.join();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind(L"Test: Cannot open 'x': Windows error 5", 0), 0u);
    EXPECT_FALSE(body.isRunning());
    ASSERT_NE(body.exception(), nullptr);
    EXPECT_THROW(std::rethrow_exception(body.exception()), qcl::SystemError);

    // A new start clears the stored exception.
    body.action = [](Body&) {};
    body.start();
    body.join();
    EXPECT_EQ(body.exception(), nullptr);
}

TEST(NamedThread, AThrowingCallbackIsLoggedAndTheRunningFlagStillCleared)
{
    Body body;
    body.setErrorCallback([](qcl::NamedThread*) { throw std::runtime_error("callback broke"); });
    body.action = [](Body&) { throw std::runtime_error("body broke"); };
    body.start();
    body.join();
    EXPECT_FALSE(body.isRunning());
    const std::string log = test::readFile(scratch.applicationData() + "/Logging/Wayfold.log");
    EXPECT_NE(log.find("qcl::NamedThread::threadMain\tThe error callback of thread 'Test' failed: callback broke"),
              std::string::npos)
        << log;
}

namespace
{
// A plain named thread whose owner never joins it.
class Counter : public qcl::NamedThread
{
public:
    explicit Counter(std::atomic<int>& runs) : NamedThread(L"Counter"), mRuns(runs) {}

protected:
    void run() override { ++mRuns; }

private:
    std::atomic<int>& mRuns;
};
} // namespace

TEST(NamedThread, AThreadThatEndedOnItsOwnIsJoinedBeforeItStartsAgainOrGoes)
{
    std::atomic<int> runs = 0;
    {
        Counter counter(runs);
        counter.start();
        while (counter.isRunning())
            std::this_thread::yield();
        counter.start(); // no join in between: the ended thread is joined here
        while (counter.isRunning())
            std::this_thread::yield();
        EXPECT_TRUE(counter.joinable());
    } // destroyed with a joinable thread: joined, not terminated
    EXPECT_EQ(runs, 2);
}

TEST(NamedThread, JoinWithoutThreadOrFromTheThreadItselfIsAnError)
{
    Body body;
    try
    {
        body.join();
        FAIL() << "joined nothing";
    }
    catch (const std::system_error& error)
    {
        EXPECT_EQ(error.code(), std::errc::invalid_argument);
    }

    std::promise<std::error_code> selfJoin;
    body.action = [&](Body& self) {
        try
        {
            self.join();
            selfJoin.set_value({});
        }
        catch (const std::system_error& error)
        {
            selfJoin.set_value(error.code());
        }
    };
    body.start();
    EXPECT_EQ(selfJoin.get_future().get(), std::errc::resource_deadlock_would_occur);
    body.join();
}

TEST(NamedThread, StartingWhileRunningIsRefused)
{
    Body body;
    std::promise<void> release;
    auto released = release.get_future().share();
    body.action = [released](Body&) { released.wait(); };
    body.start();
    EXPECT_THROW(body.start(), std::logic_error);
    release.set_value();
    body.join();
}
