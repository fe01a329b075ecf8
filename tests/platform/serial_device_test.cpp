#include "platform/serial_device.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "tests/support/pseudo_terminal.h"

namespace {

using namespace std::chrono_literals;

class SerialDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_pty.SlavePath().empty());
        m_device = platform::OpenSerialDevice(m_pty.SlavePath());
        ASSERT_NE(m_device, platform::kInvalidDevice);
        ASSERT_TRUE(platform::SetSerialLine(m_device, 115200));
        ASSERT_TRUE(platform::SetCommMask(m_device, platform::kEvRxChar | platform::kEvErr));
    }
    void TearDown() override { platform::CloseDevice(m_device); }

    // Waits (real time, bounded) until the device has count bytes waiting.
    std::uint32_t WaitForBytes(std::uint32_t count) {
        std::uint32_t waiting = 0;
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (waiting < count && std::chrono::steady_clock::now() < deadline) {
            std::uint32_t errors = 0;
            platform::ClearCommError(m_device, &errors, &waiting);
            std::this_thread::sleep_for(1ms);
        }
        return waiting;
    }

    testing_support::CPseudoTerminal m_pty;
    platform::DeviceHandle m_device = platform::kInvalidDevice;
};

TEST_F(SerialDeviceTest, SecondOpenOfAHeldDeviceFailsWithBusy) {
    EXPECT_EQ(platform::OpenSerialDevice(m_pty.SlavePath()), platform::kInvalidDevice);
    EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(EBUSY));
}

TEST(SerialDeviceOpen, MissingDeviceFailsWithItsErrno) {
    EXPECT_EQ(platform::OpenSerialDevice("/nonexistent/ttyS3"), platform::kInvalidDevice);
    EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(ENOENT));
}

TEST_F(SerialDeviceTest, ClosingReleasesTheDeviceForTheNextOwner) {
    platform::CloseDevice(m_device);
    m_device = platform::OpenSerialDevice(m_pty.SlavePath());
    EXPECT_NE(m_device, platform::kInvalidDevice);
}

TEST_F(SerialDeviceTest, BinaryBytesPassUnchangedInBothDirections) {
    // Bytes a terminal would translate or act on: CR, LF, XON, XOFF, ^C, DEL.
    const std::vector<std::uint8_t> frame = {0x21, 0x23, 0x0D, 0x0A, 0x11, 0x13,
                                             0x03, 0x7F, 0x00, 0xFF, 0x04, 0x1A};
    ASSERT_TRUE(m_pty.Send(frame));
    ASSERT_EQ(WaitForBytes(frame.size()), frame.size());
    std::vector<std::uint8_t> got(frame.size());
    EXPECT_EQ(platform::ReadDevice(m_device, got.data(), got.size()), static_cast<int>(frame.size()));
    EXPECT_EQ(got, frame);

    EXPECT_EQ(platform::WriteDevice(m_device, frame.data(), frame.size(), 1000),
              static_cast<int>(frame.size()));
    EXPECT_EQ(m_pty.Receive(frame.size()), frame);
}

TEST_F(SerialDeviceTest, PurgeDropsWhatArrivedBefore) {
    ASSERT_TRUE(m_pty.Send({1, 2, 3, 4}));
    ASSERT_EQ(WaitForBytes(4), 4u);
    ASSERT_TRUE(platform::PurgeDevice(m_device, platform::kPurgeTxClear | platform::kPurgeRxClear));
    std::uint32_t waiting = 99;
    ASSERT_TRUE(platform::ClearCommError(m_device, nullptr, &waiting));
    EXPECT_EQ(waiting, 0u);
}

TEST_F(SerialDeviceTest, WaitReportsArrivedBytes) {
    std::thread far([&] {
        std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(m_pty.Send({0x55}));
    });
    std::uint32_t events = 0;
    EXPECT_TRUE(platform::WaitCommEvent(m_device, &events));
    far.join();
    EXPECT_EQ(events, platform::kEvRxChar);
}

TEST_F(SerialDeviceTest, ClearingTheMaskFromAnotherThreadReleasesTheWait) {
    std::atomic<bool> returned{false};
    std::uint32_t events = 0xFFFF;
    std::thread waiter([&] {
        platform::WaitCommEvent(m_device, &events);
        returned = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(returned.load());
    ASSERT_TRUE(platform::SetCommMask(m_device, 0));
    waiter.join();
    EXPECT_EQ(events, 0u);
}

TEST_F(SerialDeviceTest, HangUpIsReportedOnceAndTheNextWaitBlocks) {
    m_pty.CloseMaster();
    std::uint32_t events = 0;
    ASSERT_TRUE(platform::WaitCommEvent(m_device, &events));
    EXPECT_EQ(events, platform::kEvErr);
    std::uint32_t errors = 0;
    ASSERT_TRUE(platform::ClearCommError(m_device, &errors, nullptr));
    EXPECT_EQ(errors, platform::kEvErr);

    // The next wait must block, not return at once again and again.
    std::atomic<int> returns{0};
    std::thread waiter([&] {
        std::uint32_t seen = 0;
        while (platform::WaitCommEvent(m_device, &seen) && seen != 0) {
            ++returns;
        }
    });
    std::this_thread::sleep_for(300ms);
    platform::SetCommMask(m_device, 0);
    waiter.join();
    EXPECT_EQ(returns.load(), 0);
}

TEST_F(SerialDeviceTest, WriteToAStalledLineEndsAtItsTimeOut) {
    // Nobody reads the master side: the queues fill and the write stops.
    std::vector<std::uint8_t> lots(1 << 20, 0xA5);
    const auto started = std::chrono::steady_clock::now();
    const int written = platform::WriteDevice(m_device, lots.data(), lots.size(), 50);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(written, 0);
    EXPECT_LT(written, static_cast<int>(lots.size()));
    EXPECT_LT(took, 1s);
}

TEST(SerialDeviceHandles, InvalidHandleFailsEverywhere) {
    std::uint8_t byte = 0;
    std::uint32_t events = 0;
    EXPECT_EQ(platform::ReadDevice(platform::kInvalidDevice, &byte, 1), -1);
    EXPECT_EQ(platform::WriteDevice(platform::kInvalidDevice, &byte, 1, 10), -1);
    EXPECT_FALSE(platform::SetCommMask(platform::kInvalidDevice, 1));
    EXPECT_FALSE(platform::WaitCommEvent(platform::kInvalidDevice, &events));
    EXPECT_FALSE(platform::ClearCommError(platform::kInvalidDevice, nullptr, nullptr));
    platform::CloseDevice(platform::kInvalidDevice);  // nothing happens
}

TEST_F(SerialDeviceTest, UnsupportedSpeedIsRefused) {
    EXPECT_FALSE(platform::SetSerialLine(m_device, 12345));
    EXPECT_TRUE(platform::SetSerialLine(m_device, 19200));
}

}  // namespace
