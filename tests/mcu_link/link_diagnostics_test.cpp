#include "mcu_link/link_diagnostics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

std::atomic<int> g_firstSinkLines{0};
std::atomic<int> g_secondSinkLines{0};
std::string g_lastLine;  // written by single-threaded tests only

void FirstSink(const char* /*line*/) {
    g_firstSinkLines.fetch_add(1);
}
void SecondSink(const char* /*line*/) {
    g_secondSinkLines.fetch_add(1);
}
void RememberingSink(const char* line) {
    g_lastLine = line;
}

class LinkDiagnostics : public testing::Test {
protected:
    void SetUp() override {
        g_firstSinkLines = 0;
        g_secondSinkLines = 0;
        g_lastLine.clear();
    }
    void TearDown() override { SetLinkDiagnosticSink(nullptr); }
};

TEST_F(LinkDiagnostics, LinesReachTheSinkSetLast) {
    SetLinkDiagnosticSink(&RememberingSink);
    WriteLinkDiagnostic("first");
    EXPECT_EQ(g_lastLine, "first");
    SetLinkDiagnosticSink(&FirstSink);
    WriteLinkDiagnostic("second");
    EXPECT_EQ(g_lastLine, "first");
    EXPECT_EQ(g_firstSinkLines.load(), 1);
}

TEST_F(LinkDiagnostics, NullSinkRestoresTheDefaultAndNullLinesAreSkipped) {
    SetLinkDiagnosticSink(&FirstSink);
    WriteLinkDiagnostic(nullptr);
    EXPECT_EQ(g_firstSinkLines.load(), 0);
    SetLinkDiagnosticSink(nullptr);
    testing::internal::CaptureStderr();
    WriteLinkDiagnostic("to standard error");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "to standard error\n");
    EXPECT_EQ(g_firstSinkLines.load(), 0);
}

TEST_F(LinkDiagnostics, SinkMayBeSwappedWhileAnotherThreadWrites) {
    constexpr int kLines = 2000;
    SetLinkDiagnosticSink(&FirstSink);
    std::thread writer([] {
        for (int k = 0; k < kLines; ++k) {
            WriteLinkDiagnostic("line");
        }
    });
    for (int k = 0; k < kLines; ++k) {
        SetLinkDiagnosticSink(k % 2 == 0 ? &SecondSink : &FirstSink);
    }
    writer.join();
    EXPECT_EQ(g_firstSinkLines.load() + g_secondSinkLines.load(), kLines);
}

}  // namespace
