// The frame trace switched on from the environment: one debug line per frame
// with its time, direction, bytes and verdict; nothing when it is off.
#include "engine/frame_trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "mcu_link/link_diagnostics.h"
#include "mcu_link/xor_frame_codec.h"
#include "platform/debug_output.h"

namespace {

class FrameTraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetDebugHook([this](std::string_view text) { m_lines.emplace_back(text); });
    }
    void TearDown() override {
        platform::SetDebugHook({});
        SetFrameTraceSink(nullptr);
        unsetenv(kFrameTraceVariable);
    }

    std::vector<std::string> m_lines;
};

const std::vector<std::uint8_t> kHello = {0x21, 0x23, 0x41, 0x4F, 0x08, 0x00, 0x44, 0x40, 0x0D};

TEST_F(FrameTraceTest, OnWithOneEveryFrameBecomesOneLine) {
    setenv(kFrameTraceVariable, "1", 1);
    InstallFrameTraceFromEnvironment();
    TraceSentFrame(kHello.data(), kHello.size(), true);
    TraceSentFrame(kHello.data(), kHello.size(), false);
    CXorFrameCodec codec;
    std::vector<std::uint8_t> answer = kHello;
    answer[7] ^= 0xFF;  // wrong checksum
    codec.PutRecvData(answer.data(), answer.size(), true);
    codec.ParseRecvBuf();

    ASSERT_EQ(m_lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(
        m_lines[0], std::regex(R"(\[trace\] \d+ ms -> mcu 21 23 41 4F 08 00 44 40 0D\n)")))
        << m_lines[0];
    EXPECT_TRUE(std::regex_search(m_lines[1], std::regex(R"(0D \(write failed\)\n$)")))
        << m_lines[1];
    EXPECT_TRUE(std::regex_match(
        m_lines[2],
        std::regex(R"(\[trace\] \d+ ms <- mcu 21 23 41 4F 08 00 44 BF 0D \(bad checksum\)\n)")))
        << m_lines[2];
}

TEST_F(FrameTraceTest, OffUnlessTheVariableIsOne) {
    for (const char* value : {"", "0", "yes", "11"}) {
        setenv(kFrameTraceVariable, value, 1);
        InstallFrameTraceFromEnvironment();
        TraceSentFrame(kHello.data(), kHello.size(), true);
    }
    unsetenv(kFrameTraceVariable);
    InstallFrameTraceFromEnvironment();
    TraceSentFrame(kHello.data(), kHello.size(), true);
    EXPECT_TRUE(m_lines.empty());
}

TEST_F(FrameTraceTest, LinkDiagnosticsGoToTheDebugOutput) {
    InstallLinkDiagnostics();
    WriteLinkDiagnostic("the receive buf is overflow, reset the buf, Module lenth =9");
    SetLinkDiagnosticSink(nullptr);
    ASSERT_EQ(m_lines.size(), 1u);
    EXPECT_EQ(m_lines[0], "the receive buf is overflow, reset the buf, Module lenth =9\n");
}

}  // namespace
