// The updater holder, through which the main window reaches the updater: the
// one instance, the start routine, and the port's way from the port owner to
// the updater and back.
#include "engine/updater_holder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/answer_timer.h"
#include "engine/firmware_updater.h"
#include "engine/port_hand_off.h"
#include "mcu_link/engine_events.h"
#include "platform/last_error.h"
#include "platform/serial_device.h"
#include "platform/window_messages.h"
#include "platform/window_socket.h"
#include "tests/engine/updater_test_support.h"
#include "tests/support/pseudo_terminal.h"

namespace {

using namespace updater_test;
using testing_support::CPseudoTerminal;

constexpr std::uint32_t Code(EngineEvent event) {
    return static_cast<std::uint32_t>(event);
}
constexpr std::uint32_t kStartUp = Code(EngineEvent::kStartUp);
constexpr std::uint32_t kFound = Code(EngineEvent::kFileFound);
constexpr std::uint32_t kBegin = Code(EngineEvent::kBeginTransfer);
constexpr std::uint32_t kRunning = Code(EngineEvent::kTransferRunning);
constexpr std::uint32_t kSucceeded = Code(EngineEvent::kUpdateSucceeded);
constexpr std::uint32_t kMissing = Code(EngineEvent::kFileMissing);
constexpr std::uint32_t kPortUnavailable = Code(EngineEvent::kPortUnavailable);
constexpr std::uint32_t kProgress = Code(EngineEvent::kProgress);

using Codes = std::vector<std::uint32_t>;
const Codes kWholeRun = {kStartUp, kFound, kBegin, kRunning, kRunning, kSucceeded};

using UpdaterHolderTest = CUpdaterFixture;

TEST_F(UpdaterHolderTest, OneInstanceForwardsToItsUpdaterUntilDestroyed) {
    EXPECT_EQ(CUpdaterHolder::Instance(), nullptr);
    CUpdaterHolder& holder = MakeHolder();
    EXPECT_EQ(CUpdaterHolder::Instance(), &holder);
    EXPECT_EQ(holder.Window(), m_window.Handle());
    ASSERT_NE(holder.GetUpdater(), nullptr);
    EXPECT_EQ(holder.GetStoredPort(), platform::kInvalidDevice);
    EXPECT_EQ(holder.GetPortHandle(), platform::kInvalidDevice);

    // Before Initialise the updater has nothing to work with: the start
    // routine posts its event 1 and nothing else happens.
    std::string name = "unchanged";
    holder.GetFileName(name);
    EXPECT_EQ(name, "unchanged");
    holder.OnTimer(CAnswerTimer::kTimerId);
    holder.Start();
    PumpFor(5ms);
    EXPECT_EQ(m_window.Milestones(), Codes{kRunning});

    DestroyHolder();
    EXPECT_EQ(CUpdaterHolder::Instance(), nullptr);
}

TEST_F(UpdaterHolderTest, UpdaterMadeWithoutAWindowPostsToTheHoldersWindow) {
    CFirmwareUpdater loose(platform::kNoWindow);
    EXPECT_FALSE(loose.PostEvent(kProgress, 42));  // no holder: nowhere to post
    MakeHolder();
    EXPECT_TRUE(loose.PostEvent(kProgress, 42));
    ASSERT_TRUE(PumpUntil([&] { return m_window.Has(kProgress); }));
    EXPECT_EQ(m_window.Values(kProgress), std::vector<int>{42});
}

// The port on a pseudo-terminal; a stand-in window of the port owner records
// the requests.
class UpdaterHolderPortTest : public CUpdaterFixture {
protected:
    void SetUp() override {
        CUpdaterFixture::SetUp();
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_pty.LinkSlaveAt(DevicePath()));
        ASSERT_TRUE(m_owner.Bind(kPortOwnerClassName, kPortOwnerWindowName));
    }
    void TearDown() override {
        CUpdaterFixture::TearDown();
        platform::CloseDevice(m_stranger);
    }
    // The next request to the port owner: its lParam, -1 for none.
    platform::LParam NextRequest() {
        const auto request = m_owner.Receive(1000);
        if (!request || request->name != "WM_MCU_COM_OP" || request->wParam != kComOpMcuPort) {
            return -1;
        }
        return request->lParam;
    }
    bool DeviceIsFree() const {
        const platform::DeviceHandle probe = platform::OpenSerialDevice(DevicePath());
        platform::CloseDevice(probe);
        return probe != platform::kInvalidDevice;
    }

    CPseudoTerminal m_pty;
    platform::CWindowSocket m_owner;
    platform::DeviceHandle m_stranger = platform::kInvalidDevice;
};

TEST_F(UpdaterHolderPortTest, InitialiseKeepsThePortAndTheTeardownGivesItBack) {
    UseFamilyA();
    MakeHolder();
    PostStartUp();
    ASSERT_TRUE(WaitUntilFinished());
    EXPECT_EQ(m_window.Milestones(), (Codes{kStartUp, kMissing}));
    EXPECT_NE(m_holder->GetStoredPort(), platform::kInvalidDevice);
    EXPECT_EQ(m_holder->GetStoredPort(), m_holder->GetPortHandle());
    EXPECT_EQ(NextRequest(), kComOpRelease);
    EXPECT_FALSE(DeviceIsFree());

    DestroyHolder();
    EXPECT_EQ(NextRequest(), kComOpTakeBack);
    EXPECT_TRUE(DeviceIsFree());
}

TEST_F(UpdaterHolderPortTest, PortHeldByAStrangerEndsWithEventFive) {
    m_clock.SetRealPause(1ms);  // nobody will let go
    m_stranger = platform::OpenSerialDevice(m_pty.SlavePath());
    ASSERT_NE(m_stranger, platform::kInvalidDevice);
    CLinkPeer peer(Family::kA, m_pty);
    UseFamilyA();
    WriteExeFile("app.s19", FamilyAFile(Pattern(256, 1)));
    MakeHolder();
    const std::uint64_t before = m_clock.NowMs();
    PostStartUp();
    ASSERT_TRUE(WaitUntilFinished());
    EXPECT_EQ(m_clock.NowMs() - before, kOpenRetryLastAfterMs);  // seven attempts in 6 s
    EXPECT_EQ(m_window.Milestones(), (Codes{kStartUp, kPortUnavailable}));
    EXPECT_EQ(m_holder->GetStoredPort(), platform::kInvalidDevice);
    EXPECT_TRUE(peer.PayloadsWithin(25ms).empty());  // not even the hello
    EXPECT_TRUE(peer.Received().empty());

    // The teardown asks the port owner to take the port back all the same.
    EXPECT_EQ(NextRequest(), kComOpRelease);
    DestroyHolder();
    EXPECT_EQ(NextRequest(), kComOpTakeBack);
}

// The port-owner program started from its own path, holding the simulator's
// line at <root>/dev/ttyS3.
class UpdaterPortOwnerTest : public CUpdaterFixture {
protected:
    void SetUp() override {
        CUpdaterFixture::SetUp();
        // The hand-off sleeps between its attempts; the port owner, another
        // process, needs some real time to let go meanwhile.
        m_clock.SetRealPause(50ms);
    }
    std::string Path(std::string_view relative) const { return m_root.Directory() / relative; }
    std::string OwnerLog() const { return ReadText(Path("owner.log")); }

    void StartOwner(std::vector<std::string> args) {
        namespace fs = std::filesystem;
        const std::string owner = Path("tovren/$QRV$/App/Halvix.exe");
        fs::create_directories(fs::path(owner).parent_path());
        std::error_code error;
        fs::create_hard_link(KESTROVAN_PORT_OWNER_PROGRAM, owner, error);
        if (error) {
            fs::copy_file(KESTROVAN_PORT_OWNER_PROGRAM, owner);
        }
        args.insert(args.end(), {"--log", Path("owner.log"), "--ready-file", Path("owner.ready")});
        ASSERT_TRUE(m_ownerProgram.Start(owner, args));
        ASSERT_TRUE(WaitForFile(Path("owner.ready"), 10s)) << OwnerLog();
    }
    // True once an open of the device fails as busy, within limit.
    bool DeviceBecomesBusy(std::chrono::milliseconds limit) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const platform::DeviceHandle probe = platform::OpenSerialDevice(DevicePath());
            if (probe == platform::kInvalidDevice) {
                return platform::GetLastError() == EBUSY;
            }
            platform::CloseDevice(probe);
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
    }
    void StartUpdate(const Bytes& image) {
        UseFamilyA();
        WriteExeFile("app.s19", FamilyAFile(image));
        ASSERT_TRUE(m_sim.Start({"--family", "a", "--image-out", m_sim.Path("image.bin")}));
    }

    CSimulatorRun m_sim{m_root};
    CChildProgram m_ownerProgram;
};

TEST_F(UpdaterPortOwnerTest, PortIsHandedOverForTheUpdateAndBackAfterwards) {
    const Bytes image = Pattern(10 * 128, 2);
    StartUpdate(image);
    StartOwner({});
    EXPECT_TRUE(DeviceBecomesBusy(0ms));  // held from the start

    MakeHolder();
    PostStartUp();
    ASSERT_TRUE(WaitUntilFinished()) << OwnerLog() << m_sim.Log();
    EXPECT_EQ(m_window.Milestones(), kWholeRun);
    EXPECT_FALSE(m_ownerProgram.WaitForExit(0ms).has_value());  // asked, not terminated

    DestroyHolder();
    EXPECT_TRUE(DeviceBecomesBusy(3s)) << OwnerLog();  // the port owner has it again
    const std::string log = OwnerLog();
    for (const char* seen : {"request WM_MCU_COM_OP 4 0 (release)", "(released)",
                             "request WM_MCU_COM_OP 4 1 (take back)"}) {
        EXPECT_NE(log.find(seen), std::string::npos) << seen << "\n" << log;
    }
    EXPECT_EQ(m_sim.Finish(), 0) << m_sim.Log();
    EXPECT_EQ(testing_support::ReadFileBytes(m_sim.Path("image.bin")), image);
}

TEST_F(UpdaterPortOwnerTest, OwnerThatNeverLetsGoIsEndedAndTheUpdateGoesOn) {
    const Bytes image = Pattern(4 * 128, 3);
    StartUpdate(image);
    StartOwner({"--never-release"});
    MakeHolder();
    PostStartUp();
    ASSERT_TRUE(WaitUntilFinished()) << OwnerLog() << m_sim.Log();
    EXPECT_EQ(m_window.Milestones(), kWholeRun);

    const auto status = m_ownerProgram.WaitForExit(3s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(m_sim.Finish(), 0) << m_sim.Log();
    EXPECT_EQ(testing_support::ReadFileBytes(m_sim.Path("image.bin")), image);
}

}  // namespace
