#include "app/RunnableQueue.h"

#include "qcl/Error.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
test::LogCapture logCapture;

TEST(RunnableQueue, RunsInPostOrderOnTheMainThreadEvenWhenARunnableRunsTheQueueAgain)
{
    int wakes = 0;
    app::RunnableQueue queue([&] { ++wakes; });
    std::vector<int> order;
    std::thread worker(
        [&]
        {
            queue.post(
                [&]
                {
                    order.push_back(1);
                    queue.runPending(); // a modal dialog's loop
                });
            queue.post([&] { order.push_back(2); });
            queue.post([&] { order.push_back(3); });
        });
    worker.join();
    queue.runPending();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(wakes, 3);
}

TEST(RunnableQueue, AThrowingRunnableReachesTheFailureHandlerAndNothingRunsAfterTheClose)
{
    app::RunnableQueue queue([] {});
    std::vector<std::wstring> failures;
    queue.setFailureHandler(
        [&](const std::wstring& message)
        {
            failures.push_back(message);
            queue.close();
        });
    bool ranAfter = false;
    const std::size_t from = logCapture.lineCount();
    queue.post([] { throw qcl::basic_runtime_error<wchar_t>(L"boom"); });
    queue.post([&] { ranAfter = true; });
    queue.runPending();
    EXPECT_EQ(failures, (std::vector<std::wstring>{L"boom"}));
    EXPECT_FALSE(ranAfter);
    EXPECT_TRUE(logCapture.find("FATAL", from));
    EXPECT_FALSE(queue.post([&] { ranAfter = true; }));
    queue.runPending();
    EXPECT_FALSE(ranAfter);
}

TEST(RunnableQueue, AFailingFailureHandlerStillClosesTheQueue)
{
    app::RunnableQueue queue([] {});
    queue.setFailureHandler([](const std::wstring&) { throw std::runtime_error("no display"); });
    queue.post([] { throw std::runtime_error("boom"); });
    queue.runPending();
    EXPECT_TRUE(queue.isClosed());
}
} // namespace
