#pragma once
// Sends the log of a test program to a temporary folder, through the program's own logging template with its level
// raised, and lets the test wait for lines to appear there. The logger reads its configuration once, on the first
// log statement of the process, so the capture must exist before that: make it a global of the test program.
//
//     test::LogCapture logCapture;  // at namespace scope
//     ...
//     const std::size_t from = logCapture.lineCount();
//     doSomething();
//     ASSERT_TRUE(logCapture.waitFor("Something happened", from));

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace test
{
class LogCapture
{
public:
    // `program` names the template (data/scriblet.<program>.cfg); `level` replaces its root logger's level.
    explicit LogCapture(const std::string& level = "TRACE", const std::string& program = "Wayfold");
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::string& logFile() const { return mLogFile; }

    // Every complete line logged so far; a line still being written is left for a later call. Lines are numbered
    // from 0 in the order written, so a count taken before an action marks where its lines start.
    const std::vector<std::string>& lines();
    std::size_t lineCount() { return lines().size(); }

    // The number of the first line at or after `from` that contains `text`, if there is one yet.
    std::optional<std::size_t> find(const std::string& text, std::size_t from = 0);
    // Like find, but polls the file until such a line appears or `timeout` passes.
    std::optional<std::size_t> waitFor(const std::string& text, std::size_t from = 0,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // How many lines at or after `from` (and before `to`) contain `text`.
    std::size_t count(const std::string& text, std::size_t from = 0, std::size_t to = SIZE_MAX);

private:
    void readNewText();

    std::string mRoot;
    std::string mLogFile;
    std::uintmax_t mReadBytes = 0;
    std::string mPartialLine;
    std::vector<std::string> mLines;
};
} // namespace test
