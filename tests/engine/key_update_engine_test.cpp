// The key update engine: which key files it takes, the frames it writes to
// the updater's port, and the verdict on the read-back that comes back
// through the updater's receiver and the main window.
#include "engine/key_update_engine.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/answer_timer.h"
#include "engine/event_messages.h"
#include "engine/serial_port.h"
#include "engine/updater_holder.h"
#include "mcu_link/engine_events.h"
#include "platform/window_messages.h"
#include "tests/engine/updater_test_support.h"
#include "tests/support/pseudo_terminal.h"

namespace {

using namespace updater_test;
using testing_support::CPseudoTerminal;

constexpr std::uint32_t Code(KeyEvent event) {
    return static_cast<std::uint32_t>(event);
}
constexpr std::uint32_t kFound = Code(KeyEvent::kFileFound);
constexpr std::uint32_t kVerified = Code(KeyEvent::kVerified);
constexpr std::uint32_t kMissing = Code(KeyEvent::kFileMissing);
constexpr std::uint32_t kFailed = Code(KeyEvent::kFailed);
constexpr std::uint32_t kRunning = Code(KeyEvent::kRunning);
constexpr std::uint32_t kReadBackEvent = static_cast<std::uint32_t>(EngineEvent::kKeyReadBack);

constexpr std::uint32_t kTickMs = CKeyUpdateEngine::kAnswerIntervalMs;
constexpr std::size_t kReadBackBytes = 257;  // '_' and the whole 256-byte key area

using Codes = std::vector<std::uint32_t>;

// A key file: 1032 bytes the engine passes over, then the key data.
Bytes KeyFile(const Bytes& key) {
    Bytes file = Pattern(CKeyUpdateEngine::kKeyDataOffset, 77);
    file.insert(file.end(), key.begin(), key.end());
    return file;
}

Bytes KeyFrame(const Bytes& key) {
    Bytes payload = {'L'};
    payload.insert(payload.end(), key.begin(), key.end());
    return payload;
}

// What the boot loader reads back: '_', the key area (the data, zeros behind).
Bytes ReadBack(const Bytes& key) {
    Bytes answer = {'_'};
    answer.insert(answer.end(), key.begin(), key.end());
    answer.resize(kReadBackBytes, 0);
    return answer;
}

// Stands in for the key update window: records the key events and hands
// ticks of timer 1324 to the engine.
class CKeyTestWindow {
public:
    CKeyTestWindow() {
        m_window =
            platform::CreateWindow([this](platform::WindowHandle, platform::MessageId message,
                                          platform::WParam wParam, platform::LParam) {
                if (message == platform::kWmTimer && wParam == CAnswerTimer::kTimerId) {
                    ++m_ticks;
                    if (m_engine != nullptr) {
                        m_engine->OnTimer(static_cast<std::uint32_t>(wParam));
                    }
                } else if (message == KeyEventMessage()) {
                    m_codes.push_back(static_cast<std::uint32_t>(wParam));
                }
                return platform::LResult{0};
            });
    }
    ~CKeyTestWindow() { platform::DestroyWindow(m_window); }
    CKeyTestWindow(const CKeyTestWindow&) = delete;
    CKeyTestWindow& operator=(const CKeyTestWindow&) = delete;

    platform::WindowHandle Handle() const { return m_window; }
    void Attach(CKeyUpdateEngine* engine) { m_engine = engine; }
    const Codes& KeyCodes() const { return m_codes; }
    int Ticks() const { return m_ticks; }
    // Pumps until count key events arrived; then a little longer, so that an
    // event too many would be seen as well.
    Codes CodesAfter(std::size_t count) {
        PumpUntil([&] { return m_codes.size() >= count; }, 3s);
        PumpFor(5ms);
        return m_codes;
    }

private:
    platform::WindowHandle m_window = platform::kNoWindow;
    CKeyUpdateEngine* m_engine = nullptr;
    Codes m_codes;
    int m_ticks = 0;
};

// Takes away, for the calling thread only, the capabilities with which root
// reads any file, so that a file without read permission is unreadable here
// too; gives them back at the end.
class CScopedPermissionChecks {
public:
    CScopedPermissionChecks() {
        if (geteuid() != 0) {
            return;  // permissions apply anyway
        }
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (syscall(SYS_capget, &header, m_saved) != 0) {
            return;
        }
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        header = {_LINUX_CAPABILITY_VERSION_3, 0};
        m_reduced = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~CScopedPermissionChecks() {
        if (m_reduced) {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            syscall(SYS_capset, &header, m_saved);
        }
    }
    CScopedPermissionChecks(const CScopedPermissionChecks&) = delete;
    CScopedPermissionChecks& operator=(const CScopedPermissionChecks&) = delete;

private:
    __user_cap_data_struct m_saved[2] = {};
    bool m_reduced = false;
};

class KeyFixture : public CUpdaterFixture {
protected:
    void WriteKeyFile(const Bytes& contents) const { WriteExeFile("unit.key", contents); }
    // The updater up on family A with no firmware file (event 4): its port is
    // open and its receiver runs, as when the user opens the key window.
    void StartUpdaterWithoutFirmware() {
        UseFamilyA();
        MakeHolder();
        PostStartUp();
        ASSERT_TRUE(WaitUntilFinished());
        ASSERT_NE(m_holder->GetStoredPort(), platform::kInvalidDevice);
    }
    // The engine as the key window makes it, fed with the main window's
    // read-backs.
    std::unique_ptr<CKeyUpdateEngine> MakeEngine() {
        auto engine = std::make_unique<CKeyUpdateEngine>(m_keyWindow.Handle());
        m_keyWindow.Attach(engine.get());
        m_window.onReadBack = [engine = engine.get()](const McuFrameInfo& info) {
            engine->CompareReadBack(info.payloadLength, info.payload);
        };
        return engine;
    }

    CKeyTestWindow m_keyWindow;
};

// The boot loader played by hand on a pseudo-terminal at <root>/dev/ttyS3.
class KeyUpdateTest : public KeyFixture {
protected:
    void SetUp() override {
        KeyFixture::SetUp();
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_pty.LinkSlaveAt(DevicePath()));
    }

    CPseudoTerminal m_pty;
};

using KeyUpdateSimulatorTest = KeyFixture;

TEST_F(KeyUpdateSimulatorTest, KeyIsSentReadBackAndVerifiedTwice) {
    CSimulatorRun sim(m_root);
    ASSERT_TRUE(sim.Start({"--family", "a"}));
    const Bytes key = Pattern(150, 1);
    WriteKeyFile(KeyFile(key));
    StartUpdaterWithoutFirmware();
    const auto engine = MakeEngine();
    engine->Prepare(m_holder->GetStoredPort());
    EXPECT_EQ(m_keyWindow.CodesAfter(1), Codes{kFound});

    for (int round = 1; round <= 2; ++round) {
        engine->SendKey();  // again after the verdict: the same data once more
        ASSERT_TRUE(PumpUntil([&] { return m_window.Count(kReadBackEvent) == std::size_t(round); }))
            << sim.Log();
        AdvanceAndPump(m_clock, kTickMs);
        EXPECT_EQ(m_keyWindow.CodesAfter(1 + 2 * round).back(), kVerified) << round;
    }
    EXPECT_EQ(m_keyWindow.KeyCodes(), (Codes{kFound, kRunning, kVerified, kRunning, kVerified}));
    EXPECT_EQ(m_keyWindow.Ticks(), 2);

    // hello, then twice the key frame and the read-back request
    const std::vector<Bytes> frames = sim.ReceivedFrames();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(PayloadOf(Family::kA, frames[1]), KeyFrame(key));
    EXPECT_EQ(PayloadOf(Family::kA, frames[2]), Bytes{'M'});
    EXPECT_EQ(frames[3], frames[1]);
    EXPECT_EQ(frames[4], frames[2]);
    EXPECT_NE(sim.Log().find("key data stored: 150 bytes"), std::string::npos);
    EXPECT_EQ(sim.Finish(), 0) << sim.Log();
}

// The read-back as the boot loader might send it, and the verdict on it.
struct ReadBackCase {
    const char* name;
    std::optional<Bytes> answer;  // nothing: no answer at all
    std::uint32_t verdict;
    int onTick;
};

const Bytes kKey = Pattern(200, 2);

Bytes ChangedAt(Bytes bytes, std::size_t index) {
    bytes.at(index) ^= 0x5A;
    return bytes;
}

Bytes FirstBytes(const Bytes& bytes, std::size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(count));
}

class KeyReadBackTest : public KeyUpdateTest, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(KeyReadBackTest, VerdictComesOnTheFirstTickAfterTheReadBack) {
    const ReadBackCase& row = GetParam();
    CLinkPeer peer(Family::kA, m_pty);
    WriteKeyFile(KeyFile(kKey));
    StartUpdaterWithoutFirmware();
    ASSERT_EQ(peer.NextPayload(), Bytes{'D'});

    const auto engine = MakeEngine();
    engine->Prepare(m_holder->GetStoredPort());
    engine->SendKey();
    EXPECT_EQ(peer.NextPayload(), KeyFrame(kKey));
    EXPECT_EQ(peer.NextPayload(), Bytes{'M'});
    if (row.answer) {
        ASSERT_TRUE(peer.Answer(*row.answer));
        ASSERT_TRUE(PumpUntil([&] { return m_window.Has(kReadBackEvent); }));
    }
    // Ticks of another timer count for nothing.
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(engine->OnTimer(CAnswerTimer::kTimerId + 1), 0);
    }

    int tick = 0;
    while (m_keyWindow.KeyCodes().size() < 3 && tick < CKeyUpdateEngine::kAnswerTicks + 2) {
        AdvanceAndPump(m_clock, kTickMs);
        ++tick;
    }
    EXPECT_EQ(tick, row.onTick);
    EXPECT_EQ(m_keyWindow.CodesAfter(3), (Codes{kFound, kRunning, row.verdict}));

    // The timer is gone: no further tick, no further event.
    for (int k = 0; k < 3; ++k) {
        AdvanceAndPump(m_clock, kTickMs);
    }
    EXPECT_EQ(m_keyWindow.Ticks(), row.onTick);
    EXPECT_EQ(m_keyWindow.CodesAfter(3).size(), 3u);
    EXPECT_TRUE(peer.PayloadsWithin(20ms).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, KeyReadBackTest,
    ::testing::Values(
        ReadBackCase{"Equal", ReadBack(kKey), kVerified, 1},
        ReadBackCase{"LastComparedByteDiffers", ChangedAt(ReadBack(kKey), 119), kFailed, 1},
        ReadBackCase{"DifferenceBehindTheComparedBytes", ChangedAt(ReadBack(kKey), 120), kVerified,
                     1},
        // The copy handed on leaves out the answer's last byte: 121 bytes
        // give exactly the 119 compared ones after the '_'.
        ReadBackCase{"JustLongEnough", FirstBytes(ReadBack(kKey), 121), kVerified, 1},
        ReadBackCase{"TooShort", FirstBytes(ReadBack(kKey), 120), kFailed, 1},
        ReadBackCase{"Silent", std::nullopt, kFailed, CKeyUpdateEngine::kAnswerTicks}),
    [](const ::testing::TestParamInfo<ReadBackCase>& info) {
        return std::string(info.param.name);
    });

// Which key files are sent, and how much of them.
struct KeySizeCase {
    std::uint32_t fileBytes;
    bool usable;
};

class KeyFileSizeTest : public KeyUpdateTest, public ::testing::WithParamInterface<KeySizeCase> {};

TEST_P(KeyFileSizeTest, SizeDecidesWhatIsSent) {
    const KeySizeCase& row = GetParam();
    const Bytes file = Pattern(row.fileBytes, 3);
    WriteKeyFile(file);
    CSerialPort port;
    ASSERT_EQ(port.Open(4, 115200), 0u);
    CLinkPeer peer(Family::kA, m_pty);

    CKeyUpdateEngine engine(m_keyWindow.Handle());
    m_keyWindow.Attach(&engine);
    engine.Prepare(port.GetHandle());
    std::string name;
    engine.GetFileName(name);
    EXPECT_EQ(name, "unit.key");
    EXPECT_EQ(engine.GetFileSize(), row.fileBytes);
    engine.SendKey();
    if (row.usable) {
        EXPECT_EQ(m_keyWindow.CodesAfter(2), (Codes{kFound, kRunning}));
        EXPECT_EQ(engine.PayloadLength(), row.fileBytes - 1031);
        const Bytes key(file.begin() + CKeyUpdateEngine::kKeyDataOffset, file.end());
        EXPECT_EQ(peer.NextPayload(), KeyFrame(key));
        EXPECT_EQ(peer.NextPayload(), Bytes{'M'});
    } else {
        EXPECT_EQ(m_keyWindow.CodesAfter(4), (Codes{kFound, kMissing, kRunning, kFailed}));
        EXPECT_TRUE(peer.PayloadsWithin(25ms).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, KeyFileSizeTest,
                         ::testing::Values(KeySizeCase{1031, false}, KeySizeCase{1032, true},
                                           KeySizeCase{1100, true}, KeySizeCase{1288, true},
                                           KeySizeCase{1289, false}),
                         [](const ::testing::TestParamInfo<KeySizeCase>& info) {
                             return std::to_string(info.param.fileBytes) + "Bytes";
                         });

TEST_F(KeyUpdateTest, UnreadableKeyFileSendsNothing) {
    const std::string path = WriteExeFile("unit.key", KeyFile(kKey));
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    CSerialPort port;
    ASSERT_EQ(port.Open(4, 115200), 0u);
    CLinkPeer peer(Family::kA, m_pty);
    CKeyUpdateEngine engine(m_keyWindow.Handle());
    {
        CScopedPermissionChecks checks;
        if (std::ifstream(path).is_open()) {
            GTEST_SKIP() << "a file without read permission stays readable here";
        }
        engine.Prepare(port.GetHandle());
    }
    EXPECT_FALSE(engine.IsLoaded());
    EXPECT_EQ(engine.GetFileSize(), 0u);
    engine.SendKey();
    EXPECT_EQ(m_keyWindow.CodesAfter(3), (Codes{kFound, kRunning, kFailed}));
    EXPECT_TRUE(peer.PayloadsWithin(25ms).empty());
}

// Only the low 32 bits of the size count: a file of 4 GiB and 1100 bytes is
// taken as 1100 bytes long, and only its key bytes are read.
TEST_F(KeyUpdateTest, SizeBeyondFourGibibytesCountsByItsLowBits) {
    const Bytes head = Pattern(1100, 4);
    const std::string path = WriteExeFile("unit.key", head);
    std::error_code error;
    std::filesystem::resize_file(path, (std::uintmax_t{1} << 32) + head.size(), error);
    if (error) {
        GTEST_SKIP() << "no sparse file of 4 GiB here: " << error.message();
    }
    CSerialPort port;
    ASSERT_EQ(port.Open(4, 115200), 0u);
    CLinkPeer peer(Family::kA, m_pty);
    CKeyUpdateEngine engine(m_keyWindow.Handle());
    engine.Prepare(port.GetHandle());
    EXPECT_EQ(engine.GetFileSize(), 1100u);
    engine.SendKey();
    EXPECT_EQ(m_keyWindow.CodesAfter(2), (Codes{kFound, kRunning}));
    EXPECT_EQ(peer.NextPayload(),
              KeyFrame(Bytes(head.begin() + CKeyUpdateEngine::kKeyDataOffset, head.end())));
}

TEST_F(KeyUpdateTest, NoKeyFileOrNoPortSendsNothing) {
    CSerialPort port;
    ASSERT_EQ(port.Open(4, 115200), 0u);
    CLinkPeer peer(Family::kA, m_pty);
    {
        CKeyUpdateEngine engine(m_keyWindow.Handle());
        engine.Prepare(port.GetHandle());
        engine.SendKey();
        EXPECT_EQ(m_keyWindow.CodesAfter(3), (Codes{kMissing, kRunning, kFailed}));
    }
    WriteKeyFile(KeyFile(kKey));
    {
        CKeyUpdateEngine engine(m_keyWindow.Handle());
        engine.Prepare(platform::kInvalidDevice);
        EXPECT_TRUE(engine.IsLoaded());
        engine.SendKey();
        EXPECT_EQ(m_keyWindow.CodesAfter(6),
                  (Codes{kMissing, kRunning, kFailed, kFound, kRunning, kFailed}));
    }
    EXPECT_TRUE(peer.PayloadsWithin(25ms).empty());
}

// The comparison reads the 119 bytes after the code byte, never past the
// copy it is given (exact-size heap blocks under the address sanitizer).
TEST_F(KeyUpdateTest, ComparisonNeverReadsPastTheCopy) {
    WriteKeyFile(KeyFile(kKey));
    CKeyUpdateEngine engine(platform::kNoWindow);
    engine.Prepare(platform::kInvalidDevice);
    ASSERT_TRUE(engine.IsLoaded());

    struct Row {
        Bytes copy;
        bool equal;
    };
    const Bytes whole = ReadBack(kKey);
    const Row rows[] = {
        {{}, false},
        {{'_'}, false},
        {FirstBytes(whole, 119), false},
        {FirstBytes(whole, 120), true},
        {ChangedAt(FirstBytes(whole, 120), 119), false},
        {ChangedAt(FirstBytes(whole, 120), 0), true},  // the code byte is not compared
        {whole, true},
    };
    for (const Row& row : rows) {
        const auto copy = std::make_unique<std::uint8_t[]>(row.copy.size());
        std::copy(row.copy.begin(), row.copy.end(), copy.get());
        EXPECT_EQ(engine.CompareReadBack(static_cast<std::uint16_t>(row.copy.size()), copy.get()),
                  row.equal)
            << row.copy.size();
        EXPECT_EQ(engine.GetVerdict(), row.equal ? CKeyUpdateEngine::kVerdictEqual
                                                 : CKeyUpdateEngine::kVerdictDifferent);
    }
    EXPECT_FALSE(engine.CompareReadBack(200, nullptr));
}

}  // namespace
