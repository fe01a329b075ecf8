// The port owner's request handling in-process, on a pseudo-terminal in a
// scratch system root, with the times given by the test.
#include "tools/port_owner/port_owner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/serial_device.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/scoped_sysroot.h"

namespace {

using testing_support::CPseudoTerminal;
using testing_support::CScopedSysroot;

const platform::ExternalMessage kRelease{"WM_MCU_COM_OP", 4, 0};
const platform::ExternalMessage kTakeBack{"WM_MCU_COM_OP", 4, 1};

class PortOwnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_pty.LinkSlaveAt(m_root.Root() + "/dev/ttyS3"));
    }
    void TearDown() override { platform::CloseDevice(m_stranger); }

    CPortOwner& Make(PortOwnerOptions options = {}) {
        m_owner.emplace(std::move(options),
                        [this](std::string_view line) { m_log.emplace_back(line); });
        return *m_owner;
    }
    // Whether the device can be opened now (the probe lets go at once).
    static bool DeviceIsFree(const std::string& path) {
        const platform::DeviceHandle probe = platform::OpenSerialDevice(path);
        if (probe == platform::kInvalidDevice) {
            EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(EBUSY));
            return false;
        }
        platform::CloseDevice(probe);
        return true;
    }
    bool Logged(std::string_view piece) const {
        return std::any_of(m_log.begin(), m_log.end(), [piece](const std::string& line) {
            return line.find(piece) != std::string::npos;
        });
    }
    std::string Device() const { return m_root.Root() + "/dev/ttyS3"; }

    CScopedSysroot m_root;
    CPseudoTerminal m_pty;
    std::vector<std::string> m_log;  // outlives the owner, which logs as it ends
    std::optional<CPortOwner> m_owner;
    platform::DeviceHandle m_stranger = platform::kInvalidDevice;
};

TEST_F(PortOwnerTest, HoldsComFourOfTheRootAndFindsItsWindow) {
    CPortOwner& owner = Make();
    ASSERT_TRUE(owner.Start(0));
    EXPECT_EQ(owner.DevicePath(), Device());
    EXPECT_TRUE(owner.HoldsDevice());
    EXPECT_FALSE(DeviceIsFree(Device()));
    EXPECT_NE(platform::FindWindow("SERIAL_WINDOW_CLASS_NAME", "SERIAL_WINDOW_NAME"),
              platform::kNoWindow);
}

TEST_F(PortOwnerTest, ReleasesAfterTheDelayAndTakesBack) {
    PortOwnerOptions options;
    options.releaseDelayMs = 200;
    CPortOwner& owner = Make(options);
    ASSERT_TRUE(owner.Start(0));
    owner.HandleMessage(kRelease, 1000);
    EXPECT_EQ(owner.WaitBudgetMs(1000), CPortOwner::kPollSliceMs);  // 200 ms away: a full slice
    EXPECT_EQ(owner.WaitBudgetMs(1150), 50u);
    owner.Tick(1199);
    EXPECT_TRUE(owner.HoldsDevice());
    owner.Tick(1200);
    EXPECT_FALSE(owner.HoldsDevice());
    EXPECT_TRUE(DeviceIsFree(Device()));

    owner.HandleMessage(kTakeBack, 2000);
    EXPECT_TRUE(owner.HoldsDevice());
    EXPECT_FALSE(DeviceIsFree(Device()));
    EXPECT_TRUE(Logged("request WM_MCU_COM_OP 4 0 (release): in 200 ms"));
    EXPECT_TRUE(Logged("closed " + Device() + " (released after the delay)"));
    EXPECT_TRUE(Logged("request WM_MCU_COM_OP 4 1 (take back)"));
}

TEST_F(PortOwnerTest, TakeBackCallsOffAReleaseStillWaiting) {
    PortOwnerOptions options;
    options.releaseDelayMs = 200;
    CPortOwner& owner = Make(options);
    ASSERT_TRUE(owner.Start(0));
    owner.HandleMessage(kRelease, 0);
    owner.HandleMessage(kTakeBack, 100);
    owner.Tick(500);
    EXPECT_TRUE(owner.HoldsDevice());
    EXPECT_TRUE(Logged("the device is held already"));
}

TEST_F(PortOwnerTest, TakeBackRetriesABusyDeviceAndGivesUpAtTheEndOfItsWindow) {
    PortOwnerOptions options;
    options.retryForMs = 1000;
    CPortOwner& owner = Make(options);
    ASSERT_TRUE(owner.Start(0));
    owner.HandleMessage(kRelease, 0);
    m_stranger = platform::OpenSerialDevice(Device());
    ASSERT_NE(m_stranger, platform::kInvalidDevice);

    owner.HandleMessage(kTakeBack, 0);
    EXPECT_FALSE(owner.HoldsDevice());
    EXPECT_EQ(owner.WaitBudgetMs(0), CPortOwner::kOpenRetryPauseMs);
    owner.Tick(100);
    EXPECT_FALSE(owner.HoldsDevice());
    platform::CloseDevice(m_stranger);  // the stranger lets go
    m_stranger = platform::kInvalidDevice;
    owner.Tick(150);  // not due yet
    EXPECT_FALSE(owner.HoldsDevice());
    owner.Tick(200);
    EXPECT_TRUE(owner.HoldsDevice());

    // Held by a stranger for the whole window: one attempt per pause, then no more.
    owner.HandleMessage(kRelease, 300);
    m_stranger = platform::OpenSerialDevice(Device());
    owner.HandleMessage(kTakeBack, 300);
    for (std::uint64_t now = 400; now <= 1300; now += 100) {
        owner.Tick(now);
    }
    EXPECT_FALSE(owner.HoldsDevice());
    EXPECT_TRUE(Logged("gave up opening " + Device() + " after 1000 ms"));
    const auto attempts = std::count_if(m_log.begin(), m_log.end(), [](const std::string& line) {
        return line.find("failed: Device or resource busy") != std::string::npos;
    });
    EXPECT_EQ(attempts, 2 + 11);  // the first window: 2; the second: at 300 and 400..1300
    EXPECT_EQ(owner.WaitBudgetMs(1300), CPortOwner::kPollSliceMs);
}

TEST_F(PortOwnerTest, NeverReleaseAndForeignRequestsKeepTheDevice) {
    PortOwnerOptions options;
    options.neverRelease = true;
    CPortOwner& owner = Make(options);
    ASSERT_TRUE(owner.Start(0));
    for (const platform::ExternalMessage& message :
         {kRelease, platform::ExternalMessage{"WM_MCU_COM_OP", 3, 0},
          platform::ExternalMessage{"WM_OTHER", 4, 0},
          platform::ExternalMessage{"WM_MCU_COM_OP", 4, 7}}) {
        owner.HandleMessage(message, 0);
        owner.Tick(10'000);
        EXPECT_TRUE(owner.HoldsDevice()) << message.name << " " << message.wParam;
    }
    EXPECT_TRUE(Logged("(release): ignored, --never-release"));
    EXPECT_TRUE(Logged("request WM_OTHER 4 0: not for the microcontroller's port, ignored"));
}

}  // namespace
