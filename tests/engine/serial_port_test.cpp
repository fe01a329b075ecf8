#include "engine/serial_port.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/pseudo_terminal.h"
#include "tests/support/scoped_sysroot.h"

namespace {

using namespace std::chrono_literals;
using testing_support::CPseudoTerminal;
using testing_support::CScopedSysroot;

TEST(SerialPortDeviceName, ShortAndLongForms) {
    struct Row {
        int port;
        const char* name;
    };
    const Row rows[] = {{1, "COM1:"}, {4, "COM4:"}, {9, "COM9:"}, {10, "\\$device\\COM10"},
                        {12, "\\$device\\COM12"}};
    for (const Row& row : rows) {
        EXPECT_EQ(CSerialPort::DeviceName(row.port), row.name) << row.port;
    }
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_pty.LinkSlaveAt(m_root.Root() + "/dev/ttyS3"));
    }

    std::uint32_t WaitingAt(int fd) {
        int waiting = -1;
        ioctl(fd, FIONREAD, &waiting);
        return static_cast<std::uint32_t>(waiting);
    }

    CScopedSysroot m_root;
    CPseudoTerminal m_pty;
};

TEST_F(SerialPortTest, OpensComFourBelowTheSystemRoot) {
    CSerialPort port;
    EXPECT_EQ(port.GetHandle(), platform::kInvalidDevice);
    ASSERT_EQ(port.Open(4, 115200), 0u);
    EXPECT_NE(port.GetHandle(), platform::kInvalidDevice);
    EXPECT_EQ(port.GetPortNumber(), 4);
    EXPECT_EQ(port.GetBaudRate(), 115200u);
}

TEST_F(SerialPortTest, FailedOpenKeepsNumberAndRateAndReportsTheError) {
    CSerialPort port;
    EXPECT_EQ(port.Open(5, 19200), static_cast<std::uint32_t>(ENOENT));  // no ttyS4
    EXPECT_EQ(port.GetHandle(), platform::kInvalidDevice);
    EXPECT_EQ(port.GetPortNumber(), 5);
    EXPECT_EQ(port.GetBaudRate(), 19200u);
}

TEST_F(SerialPortTest, APortHeldElsewhereIsBusy) {
    CSerialPort holder;
    ASSERT_EQ(holder.Open(4, 115200), 0u);
    CSerialPort second;
    EXPECT_EQ(second.Open(4, 115200), static_cast<std::uint32_t>(EBUSY));
    holder.Close();
    EXPECT_EQ(second.Open(4, 115200), 0u);
}

TEST_F(SerialPortTest, CloseTwiceAndWriteOrReadWhenClosed) {
    CSerialPort port;
    std::uint8_t byte = 0x44;
    EXPECT_EQ(port.Write(&byte, 1), -1);
    EXPECT_EQ(port.Read(&byte, 1), -1);
    ASSERT_EQ(port.Open(4, 115200), 0u);
    port.Close();
    port.Close();
    EXPECT_EQ(port.GetHandle(), platform::kInvalidDevice);
    EXPECT_EQ(port.Write(&byte, 1), -1);
}

TEST_F(SerialPortTest, BytesThatArrivedBeforeTheOpenAreGone) {
    // An observer keeps the slave open so the bytes stay queued until Open.
    const int observer = open(m_pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(observer, 0);
    termios raw{};
    ASSERT_EQ(tcgetattr(observer, &raw), 0);
    cfmakeraw(&raw);  // in line mode nothing counts as waiting before a line end
    ASSERT_EQ(tcsetattr(observer, TCSANOW, &raw), 0);
    ASSERT_TRUE(m_pty.Send({1, 2, 3, 4}));
    for (int i = 0; i < 200 && WaitingAt(observer) < 4; ++i) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(WaitingAt(observer), 4u);
    CSerialPort port;
    ASSERT_EQ(port.Open(4, 115200), 0u);
    EXPECT_EQ(WaitingAt(observer), 0u);
    close(observer);
}

TEST_F(SerialPortTest, WritesAndReadsWholeFrames) {
    CSerialPort port;
    ASSERT_EQ(port.Open(4, 115200), 0u);
    const std::vector<std::uint8_t> hello = {0x21, 0x23, 0x41, 0x4F, 0x08, 0x00, 0x44, 0x40, 0x0D};
    EXPECT_EQ(port.Write(hello.data(), hello.size()), static_cast<int>(hello.size()));
    EXPECT_EQ(m_pty.Receive(hello.size()), hello);

    ASSERT_TRUE(m_pty.Send(hello));
    std::vector<std::uint8_t> got;
    for (int i = 0; i < 200 && got.size() < hello.size(); ++i) {
        std::uint8_t buffer[64];
        const int n = port.Read(buffer, sizeof buffer);
        ASSERT_GE(n, 0);
        got.insert(got.end(), buffer, buffer + n);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(got, hello);
}

TEST(SerialPortWriteHandle, InvalidHandleFails) {
    std::uint8_t byte = 0;
    EXPECT_EQ(CSerialPort::WriteHandle(platform::kInvalidDevice, &byte, 1), -1);
}

}  // namespace
