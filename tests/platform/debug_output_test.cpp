// Debug lines: formatting, the capture hook, standard error, and lines from
// several threads arriving whole.
#include "platform/debug_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scratch_directory.h"

namespace {

// Captures every text while alive.
class CCapturedOutput {
public:
    CCapturedOutput() {
        platform::SetDebugHook([this](std::string_view text) { m_texts.emplace_back(text); });
    }
    ~CCapturedOutput() { platform::SetDebugHook({}); }
    CCapturedOutput(const CCapturedOutput&) = delete;
    CCapturedOutput& operator=(const CCapturedOutput&) = delete;

    const std::vector<std::string>& Texts() const { return m_texts; }

private:
    std::vector<std::string> m_texts;
};

struct FormatCase {
    const char* label;
    std::function<void()> print;
    std::string expected;
};

TEST(DebugOutput, FormatsLikePrintf) {
    const std::string longText(5000, 'L');  // beyond the line buffer on the stack
    const std::vector<FormatCase> table = {
        {"repeat", [] { platform::DebugPrintf("----------------------Repeat, %d\n", 2); },
         "----------------------Repeat, 2\n"},
        {"write error", [] { platform::DebugPrintf("+++++++++++Write Error 0x%x:\n", 0x1F); },
         "+++++++++++Write Error 0x1f:\n"},
        {"no newline added", [] { platform::DebugPrintf("%s", "abc"); }, "abc"},
        {"percent", [] { platform::DebugPrintf("100%%\n"); }, "100%\n"},
        {"long line", [&longText] { platform::DebugPrintf("<%s>\n", longText.c_str()); },
         "<" + longText + ">\n"},
        {"exactly the stack buffer",
         [] { platform::DebugPrintf("%s", std::string(511, 'x').c_str()); }, std::string(511, 'x')},
        {"one past the stack buffer",
         [] { platform::DebugPrintf("%s", std::string(512, 'y').c_str()); }, std::string(512, 'y')},
    };
    for (const FormatCase& row : table) {
        CCapturedOutput output;
        row.print();
        ASSERT_EQ(output.Texts().size(), 1u) << row.label;
        EXPECT_EQ(output.Texts().front(), row.expected) << row.label;
    }
}

TEST(DebugOutput, EmptyTextIsNotPassedOn) {
    CCapturedOutput output;
    platform::DebugPrintf("%s", "");
    EXPECT_TRUE(output.Texts().empty());
}

TEST(DebugOutput, LeavesErrnoAlone) {
    CCapturedOutput output;
    errno = EBUSY;
    platform::DebugPrintf("open failed, errno %d\n", errno);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(output.Texts().front(), "open failed, errno " + std::to_string(EBUSY) + "\n");
}

TEST(DebugOutput, ThrowingHookDoesNotReachTheCaller) {
    platform::SetDebugHook([](std::string_view) { throw std::runtime_error("hook"); });
    EXPECT_NO_THROW(platform::DebugPrintf("line\n"));
    platform::SetDebugHook({});
}

constexpr int kThreads = 4;
constexpr int kLinesPerThread = 300;

std::string ThreadLine(int thread, int line) {
    // Long enough that an interleaved write would show inside a line.
    return "thread " + std::to_string(thread) + " line " + std::to_string(line) + " " +
           std::string(200, static_cast<char>('a' + thread)) + "\n";
}

void PrintFromThreads() {
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([thread] {
            for (int line = 0; line < kLinesPerThread; ++line) {
                platform::DebugPrintf("%s", ThreadLine(thread, line).c_str());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

// Every line of every thread arrives once, whole, in its thread's order.
void ExpectAllLinesWhole(const std::vector<std::string>& lines) {
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesPerThread));
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines) {
        int thread = -1;
        int number = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &thread, &number), 2) << line;
        ASSERT_GE(thread, 0);
        ASSERT_LT(thread, kThreads);
        EXPECT_EQ(number, next[thread]);
        EXPECT_EQ(line, ThreadLine(thread, number));
        next[thread] = number + 1;
    }
}

TEST(DebugOutputThreads, HookGetsOneTextAtATime) {
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<std::string> texts;
    platform::SetDebugHook([&](std::string_view text) {
        if (inside.fetch_add(1) != 0) {
            overlapped = true;
        }
        texts.emplace_back(text);
        inside.fetch_sub(1);
    });
    PrintFromThreads();
    platform::SetDebugHook({});
    EXPECT_FALSE(overlapped);
    ExpectAllLinesWhole(texts);
}

// Points standard error at a file for the lifetime of the object.
class CRedirectedStandardError {
public:
    explicit CRedirectedStandardError(const std::string& path) : m_saved(::dup(STDERR_FILENO)) {
        const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        EXPECT_GE(file, 0);
        ::dup2(file, STDERR_FILENO);
        ::close(file);
    }
    ~CRedirectedStandardError() {
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
    }
    CRedirectedStandardError(const CRedirectedStandardError&) = delete;
    CRedirectedStandardError& operator=(const CRedirectedStandardError&) = delete;

private:
    int m_saved;
};

std::vector<std::string> SplitLines(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::string> lines;
    std::string current;
    for (std::uint8_t byte : bytes) {
        current.push_back(static_cast<char>(byte));
        if (byte == '\n') {
            lines.push_back(std::move(current));
            current.clear();
        }
    }
    if (!current.empty()) {
        lines.push_back(std::move(current));
    }
    return lines;
}

TEST(DebugOutputThreads, StandardErrorGetsWholeLines) {
    testing_support::CScratchDirectory directory;
    const std::string path = directory / "stderr.txt";
    {
        CRedirectedStandardError redirected(path);
        PrintFromThreads();
    }
    ExpectAllLinesWhole(SplitLines(testing_support::ReadFileBytes(path)));
}

TEST(DebugOutputThreads, EmptyHookRestoresStandardError) {
    testing_support::CScratchDirectory directory;
    const std::string path = directory / "stderr.txt";
    {
        CRedirectedStandardError redirected(path);
        {
            CCapturedOutput output;
            platform::DebugPrintf("captured\n");
        }
        platform::DebugPrintf("written %d\n", 7);
    }
    const std::vector<std::uint8_t> bytes = testing_support::ReadFileBytes(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "written 7\n");
}

}  // namespace
