// The firmware updater end to end, without a display: a stand-in main window
// on the platform's message queue records every engine event, the updater
// talks over a pseudo-terminal at <root>/dev/ttyS3 to the boot-loader
// simulator (or to a boot loader the test plays by hand), and every time-out
// runs on the test clock.
#include "engine/firmware_updater.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/updater_holder.h"
#include "firmware/update_flag.h"
#include "mcu_link/engine_events.h"
#include "platform/window_messages.h"
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
constexpr std::uint32_t kFailed = Code(EngineEvent::kUpdateFailed);
constexpr std::uint32_t kMissing = Code(EngineEvent::kFileMissing);
constexpr std::uint32_t kProgress = Code(EngineEvent::kProgress);
constexpr std::uint32_t kParseProgress = Code(EngineEvent::kParseProgress);
constexpr std::uint32_t kReadBack = Code(EngineEvent::kKeyReadBack);

constexpr std::uint32_t kTimeoutMs = CFirmwareUpdater::kAnswerTimeoutMs;
constexpr std::uint32_t kImageBase = 0xA000;
constexpr std::size_t kBlockBytes = 128;

using Codes = std::vector<std::uint32_t>;
// What a whole successful run posts, apart from the progress: start-up, file
// found, start routine, the routine's event 1 and BeginTransfer's, success.
const Codes kWholeRun = {kStartUp, kFound, kBegin, kRunning, kRunning, kSucceeded};

const Bytes kStartBlockA = {'a', 'S', 'T', 'M', '8'};
const Bytes kEndBlockA = {'c', 'S', 'T', 'M', '8'};
const Bytes kStartBlockB = {'Y', 0x01};
const Bytes kEndBlockB = {'Y', 0x00};

Bytes DataBlockA(const Bytes& image, std::size_t block) {
    const auto address = static_cast<std::uint32_t>(kImageBase + block * kBlockBytes);
    Bytes payload = {
        'b', static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
        static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 24)};
    const Bytes padded = PaddedToBlocks(image);
    payload.insert(payload.end(), padded.begin() + static_cast<long>(block * kBlockBytes),
                   padded.begin() + static_cast<long>((block + 1) * kBlockBytes));
    return payload;
}

Bytes LineBlockB(const std::string& record) {
    Bytes payload = {'Y', 0x02};
    payload.insert(payload.end(), record.begin(), record.end());
    return payload;
}

Bytes DataAnswerA(std::uint32_t address, std::uint8_t flag) {
    return {'b',
            static_cast<std::uint8_t>(address),
            static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address >> 16),
            static_cast<std::uint8_t>(address >> 24),
            flag};
}

// The payloads of the frames the simulator received.
std::vector<Bytes> Payloads(Family family, const std::vector<Bytes>& frames) {
    std::vector<Bytes> payloads;
    for (const Bytes& frame : frames) {
        payloads.push_back(PayloadOf(family, frame));
    }
    return payloads;
}

bool StrictlyRising(const std::vector<int>& values) {
    return std::adjacent_find(values.begin(), values.end(), std::greater_equal<>()) == values.end();
}

const char* FamilyArg(Family family) {
    return family == Family::kA ? "a" : "b";
}

std::string FamilyName(const ::testing::TestParamInfo<Family>& info) {
    return info.param == Family::kA ? "FamilyA" : "FamilyB";
}

// ---- Against the simulator ----

class UpdaterSimulatorTest : public CUpdaterFixture {
protected:
    // A firmware file of the family next to the executable; records receives
    // the lines of a family B file.
    void WriteFirmware(Family family, const Bytes& image) {
        WriteExeFile("app.s19",
                     family == Family::kA ? FamilyAFile(image) : FamilyBFile(image, m_records));
    }
    // Starts the update as the main window does and waits for its end.
    void RunUpdate() {
        MakeHolder();
        PostStartUp();
        ASSERT_TRUE(WaitUntilFinished()) << m_sim.Log();
        // The sender posts the progress of the last frame after its write; a
        // quick final answer can be handled, and its event posted, first.
        PumpFor(50ms);
    }
    // Moves the clock by one answer time-out once the simulator has received
    // `frames` frames (so that the timer of the last one runs).
    void TimeOutAfterFrame(std::size_t frames) {
        ASSERT_TRUE(PumpUntil([&] { return m_sim.ReceivedFrameCount() >= frames; })) << m_sim.Log();
        AdvanceAndPump(m_clock, kTimeoutMs);
    }

    CSimulatorRun m_sim{m_root};
    std::vector<std::string> m_records;
};

TEST_F(UpdaterSimulatorTest, FamilyAUpdateWritesTheImageAndThenStaysQuiet) {
    UseFamilyA();
    const Bytes image = Pattern(33 * kBlockBytes + 40, 1);  // the last block is short
    WriteFirmware(Family::kA, image);
    ASSERT_TRUE(m_sim.Start({"--family", "a", "--image-out", m_sim.Path("image.bin")}));
    RunUpdate();

    EXPECT_EQ(Updater().GetFamily(), CFirmwareUpdater::Family::kA);
    EXPECT_EQ(m_window.Milestones(), kWholeRun);
    const std::vector<int> progress = m_window.Values(kProgress);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(StrictlyRising(progress));
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(StrictlyRising(m_window.Values(kParseProgress)));
    EXPECT_TRUE(m_window.Has(kParseProgress));
    std::string name;
    m_holder->GetFileName(name);
    EXPECT_EQ(name, "app.s19");

    // Every frame once, byte for byte: hello, start, 34 blocks, end.
    const std::vector<Bytes> frames = m_sim.ReceivedFrames();
    ASSERT_EQ(frames.size(), 1u + 1 + 34 + 1);
    EXPECT_EQ(frames[0], HelloFrame(Family::kA));
    EXPECT_EQ(frames[1], (Bytes{0x21, 0x23, 0x41, 0x4F, 0x0C, 0x00, 0x61, 0x53, 0x54, 0x4D, 0x38,
                                0x13, 0x0D}));
    EXPECT_EQ(frames.back(), (Bytes{0x21, 0x23, 0x41, 0x4F, 0x0C, 0x00, 0x63, 0x53, 0x54, 0x4D,
                                    0x38, 0x11, 0x0D}));
    for (std::size_t block = 0; block < 34; ++block) {
        EXPECT_EQ(PayloadOf(Family::kA, frames[2 + block]), DataBlockA(image, block)) << block;
    }

    // Each answer stopped its frame's timer: however long the clock runs on,
    // no tick comes, nothing is sent again and nothing is posted after event 2.
    const std::size_t events = m_window.Events().size();
    for (int second = 0; second < 5; ++second) {
        AdvanceAndPump(m_clock, kTimeoutMs);
        PumpFor(10ms);
    }
    EXPECT_EQ(m_window.TimerTicks(), 0);
    EXPECT_EQ(m_window.Events().size(), events);
    EXPECT_EQ(m_sim.ReceivedFrameCount(), frames.size());

    EXPECT_EQ(m_sim.Finish(), 0) << m_sim.Log();  // no violation seen
    EXPECT_EQ(testing_support::ReadFileBytes(m_sim.Path("image.bin")), PaddedToBlocks(image));
}

TEST_F(UpdaterSimulatorTest, FamilyBUpdateSendsEveryLineInOrder) {
    UseFamilyB();
    const Bytes image = Pattern(40 * 16 + 5, 2);
    WriteFirmware(Family::kB, image);
    ASSERT_TRUE(m_sim.Start({"--family", "b", "--lines-out", m_sim.Path("lines.txt"), "--image-out",
                             m_sim.Path("image.bin")}));
    RunUpdate();

    EXPECT_EQ(Updater().GetFamily(), CFirmwareUpdater::Family::kB);
    EXPECT_EQ(Updater().GetBaudRate(), 115200u);
    EXPECT_EQ(m_window.Milestones(), kWholeRun);
    const std::vector<int> progress = m_window.Values(kProgress);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(StrictlyRising(progress));
    EXPECT_EQ(progress.back(), 100);

    std::vector<Bytes> expected = {{'D'}, kStartBlockB};
    for (const std::string& record : m_records) {
        expected.push_back(LineBlockB(record));
    }
    expected.push_back(kEndBlockB);
    EXPECT_EQ(Payloads(Family::kB, m_sim.ReceivedFrames()), expected);
    EXPECT_EQ(m_window.TimerTicks(), 0);

    EXPECT_EQ(m_sim.Finish(), 0) << m_sim.Log();
    std::string lines;
    for (const std::string& record : m_records) {
        lines += record + "\n";
    }
    EXPECT_EQ(ReadText(m_sim.Path("lines.txt")), lines);
    EXPECT_EQ(testing_support::ReadFileBytes(m_sim.Path("image.bin")), image);
}

// Platform code 8 chooses its file by the version the boot loader reports.
struct VersionCase {
    const char* name;
    std::vector<std::string> simArgs;
    std::uint8_t flag;    // the size class remembered in the flag file
    const char* file;     // the file taken
    bool withoutVersion;  // event 3 from the wait, and a version text left empty
    const char* version;
};

class UpdaterVersionTest : public UpdaterSimulatorTest,
                           public ::testing::WithParamInterface<VersionCase> {};

TEST_P(UpdaterVersionTest, VersionAnswerChoosesTheSizeClass) {
    const VersionCase& row = GetParam();
    UsePlatformWithVersion();
    const Bytes small = Pattern(3 * kBlockBytes, 3);
    const Bytes large = Pattern(5 * kBlockBytes, 4);
    WriteExeFile("a.s19", FamilyAFile(Pattern(kBlockBytes, 5)));
    WriteExeFile("HX900_64K.s19", FamilyAFile(small));
    WriteExeFile("HX900_128K.s19", FamilyAFile(large));
    std::vector<std::string> args = row.simArgs;
    args.insert(args.end(), {"--image-out", m_sim.Path("image.bin")});
    ASSERT_TRUE(m_sim.Start(args));
    if (row.withoutVersion) {
        m_clock.SetRealPause(1ms);  // nothing to wait for
    }

    MakeHolder();
    EXPECT_EQ(Updater().GetFamily(), CFirmwareUpdater::Family::kB);  // not decided yet
    const std::uint64_t before = m_clock.NowMs();
    m_holder->Initialise();  // what event 8 runs
    const std::uint64_t waited = m_clock.NowMs() - before;
    EXPECT_EQ(Updater().GetPlatformCode(), 8);
    EXPECT_EQ(Updater().GetFamily(), CFirmwareUpdater::Family::kA);
    EXPECT_EQ(Updater().IsVersionReceived(), !row.withoutVersion);
    EXPECT_EQ(Updater().GetVersionText(), row.version);
    if (row.withoutVersion) {
        EXPECT_EQ(waited, CFirmwareUpdater::kVersionPolls * CFirmwareUpdater::kVersionPollMs);
    } else {
        EXPECT_LT(waited, CFirmwareUpdater::kVersionPolls * CFirmwareUpdater::kVersionPollMs);
    }

    ASSERT_TRUE(PumpUntil([&] { return m_window.Has(kSucceeded); })) << m_sim.Log();
    const Codes expected = row.withoutVersion
                               ? Codes{kFailed, kFound, kBegin, kRunning, kRunning, kSucceeded}
                               : Codes{kFound, kBegin, kRunning, kRunning, kSucceeded};
    EXPECT_EQ(m_window.Milestones(), expected);
    std::string name;
    m_holder->GetFileName(name);
    EXPECT_EQ(name, row.file);
    std::uint8_t flag = 0xFF;
    ASSERT_EQ(ReadUpdateFlag(flag), 0);
    EXPECT_EQ(flag, row.flag);

    EXPECT_EQ(m_sim.Finish(), 0) << m_sim.Log();
    EXPECT_EQ(testing_support::ReadFileBytes(m_sim.Path("image.bin")),
              row.flag == 1 ? large : small);
}

INSTANTIATE_TEST_SUITE_P(
    PlatformEight, UpdaterVersionTest,
    ::testing::Values(VersionCase{"From2013",
                                  {"--version", "HX90020130105"},
                                  1,
                                  "HX900_128K.s19",
                                  false,
                                  "HX90020130105"},
                      VersionCase{"Before2013",
                                  {"--version", "HX90020121231"},
                                  0,
                                  "HX900_64K.s19",
                                  false,
                                  "HX90020121231"},
                      // No answer: an empty version reads as year 0, the "64K" rule.
                      VersionCase{"NoAnswer", {"--no-version"}, 0, "HX900_64K.s19", true, ""}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

// A boot loader that stops answering once the end block went out: family A
// fails, family B counts the transfer complete (its progress is at 100).
class UpdaterEndSilenceTest : public UpdaterSimulatorTest,
                              public ::testing::WithParamInterface<Family> {};

TEST_P(UpdaterEndSilenceTest, ThirdTickAfterTheEndBlockDecides) {
    const Family family = GetParam();
    UseFamily(family);
    const Bytes image = Pattern(4 * kBlockBytes, 6);
    WriteFirmware(family, image);
    // Frames answered: hello, start, and every data block (family B: lines).
    const std::size_t answered =
        2 + (family == Family::kA ? image.size() / kBlockBytes : m_records.size());
    ASSERT_TRUE(
        m_sim.Start({"--family", FamilyArg(family), "--silent-after", std::to_string(answered)}));
    MakeHolder();
    PostStartUp();

    TimeOutAfterFrame(answered + 1);  // the end block, unanswered
    TimeOutAfterFrame(answered + 2);  // its first repeat
    ASSERT_FALSE(m_window.Finished());
    TimeOutAfterFrame(answered + 3);  // its second repeat
    ASSERT_TRUE(WaitUntilFinished(2s));

    EXPECT_EQ(m_window.Values(kProgress).back(), 100);
    EXPECT_EQ(m_window.Milestones().back(), family == Family::kA ? kFailed : kSucceeded);
    EXPECT_EQ(m_window.Count(kSucceeded) + m_window.Count(kFailed), 1u);
    const std::vector<Bytes> payloads = Payloads(family, m_sim.ReceivedFrames());
    ASSERT_EQ(payloads.size(), answered + 3);
    const Bytes& end = family == Family::kA ? kEndBlockA : kEndBlockB;
    for (std::size_t k = answered; k < payloads.size(); ++k) {
        EXPECT_EQ(payloads[k], end) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Families, UpdaterEndSilenceTest, ::testing::Values(Family::kA, Family::kB),
                         FamilyName);

TEST_F(UpdaterSimulatorTest, RefusedAndWronglyAcknowledgedBlocksGoOutAgainUnchanged) {
    UseFamilyA();
    const Bytes image = Pattern(8 * kBlockBytes, 7);
    WriteFirmware(Family::kA, image);
    ASSERT_TRUE(m_sim.Start({"--family", "a", "--image-out", m_sim.Path("image.bin"),
                             "--refuse-block", "2:1", "--wrong-address", "4:1"}));
    RunUpdate();
    EXPECT_EQ(m_window.Milestones(), kWholeRun);
    EXPECT_EQ(m_window.TimerTicks(), 0);  // repeated at once, not after a time-out

    std::vector<Bytes> expected = {{'D'}, kStartBlockA};
    for (const std::size_t block : {0, 1, 2, 2, 3, 4, 4, 5, 6, 7}) {
        expected.push_back(DataBlockA(image, block));
    }
    expected.push_back(kEndBlockA);
    EXPECT_EQ(Payloads(Family::kA, m_sim.ReceivedFrames()), expected);
    EXPECT_EQ(m_sim.Finish(), 0) << m_sim.Log();
    EXPECT_EQ(testing_support::ReadFileBytes(m_sim.Path("image.bin")), image);
}

TEST_F(UpdaterSimulatorTest, FamilyBLineAskedForAgainIsRepeated) {
    UseFamilyB();
    WriteFirmware(Family::kB, Pattern(6 * 16, 8));
    ASSERT_TRUE(m_sim.Start(
        {"--family", "b", "--lines-out", m_sim.Path("lines.txt"), "--refuse-block", "3:2"}));
    RunUpdate();
    EXPECT_EQ(m_window.Milestones(), kWholeRun);
    EXPECT_EQ(m_window.TimerTicks(), 0);

    std::vector<Bytes> expected = {{'D'}, kStartBlockB};
    for (std::size_t line = 0; line < m_records.size(); ++line) {
        const int sendings = line == 3 ? 3 : 1;
        for (int k = 0; k < sendings; ++k) {
            expected.push_back(LineBlockB(m_records[line]));
        }
    }
    expected.push_back(kEndBlockB);
    EXPECT_EQ(Payloads(Family::kB, m_sim.ReceivedFrames()), expected);
    EXPECT_EQ(m_sim.Finish(), 0) << m_sim.Log();
}

// A noisy, lossy line: answers dropped, corrupted, split and preceded by
// noise. Lost answers are repeated on the time-outs, and the image arrives
// whole.
class UpdaterNoisyLineTest : public UpdaterSimulatorTest,
                             public ::testing::WithParamInterface<Family> {};

TEST_P(UpdaterNoisyLineTest, LongTransferStillDeliversTheImage) {
    const Family family = GetParam();
    UseFamily(family);
    const Bytes image = Pattern(family == Family::kA ? 40 * kBlockBytes : 40 * 16, 9);
    WriteFirmware(family, image);
    ASSERT_TRUE(m_sim.Start({"--family", FamilyArg(family), "--image-out", m_sim.Path("image.bin"),
                             "--noise", "--split", "--corrupt-rate", "0.06", "--drop-rate", "0.06",
                             "--seed", "5"}));
    MakeHolder();
    PostStartUp();
    ASSERT_TRUE(RunWithTimeouts(m_sim)) << m_sim.Log();

    EXPECT_EQ(m_window.Milestones(), kWholeRun) << m_sim.Log();
    EXPECT_GT(m_window.TimerTicks(), 0);  // some answers were lost
    EXPECT_EQ(m_sim.Finish(), 0) << m_sim.Log();
    EXPECT_EQ(testing_support::ReadFileBytes(m_sim.Path("image.bin")),
              family == Family::kA ? PaddedToBlocks(image) : image);
    const std::string log = m_sim.Log();
    EXPECT_NE(log.find("(noise)"), std::string::npos);
    EXPECT_TRUE(log.find("answer dropped") != std::string::npos ||
                log.find("corrupted answer") != std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Families, UpdaterNoisyLineTest, ::testing::Values(Family::kA, Family::kB),
                         FamilyName);

// Regression: a repeat that an answer asks for is guarded by the answer
// timer, so a boot loader that refuses once and then falls silent ends the
// transfer after three ticks instead of leaving it waiting for ever.
class UpdaterRefusalThenSilenceTest : public UpdaterSimulatorTest,
                                      public ::testing::WithParamInterface<Family> {};

TEST_P(UpdaterRefusalThenSilenceTest, EndsWithEventThreeOnTheThirdTick) {
    const Family family = GetParam();
    UseFamily(family);
    WriteFirmware(family, Pattern(4 * kBlockBytes, 10));
    // Frames: hello, start, block (line) 0, block 1 refused; then silence.
    ASSERT_TRUE(m_sim.Start(
        {"--family", FamilyArg(family), "--refuse-block", "1:1", "--silent-after", "4"}));
    MakeHolder();
    PostStartUp();

    TimeOutAfterFrame(5);  // the repeat the refusal asked for, unanswered
    TimeOutAfterFrame(6);
    ASSERT_FALSE(m_window.Finished());
    TimeOutAfterFrame(7);
    ASSERT_TRUE(WaitUntilFinished(2s));
    EXPECT_EQ(m_window.Milestones().back(), kFailed);
    EXPECT_EQ(m_window.TimerTicks(), 3);

    const std::vector<Bytes> frames = m_sim.ReceivedFrames();
    ASSERT_EQ(frames.size(), 7u);
    for (std::size_t k = 4; k < frames.size(); ++k) {
        EXPECT_EQ(frames[k], frames[3]) << k;  // the same block, the same address
    }
}

INSTANTIATE_TEST_SUITE_P(Families, UpdaterRefusalThenSilenceTest,
                         ::testing::Values(Family::kA, Family::kB), FamilyName);

// Regression: a block refused without end no longer keeps the transfer
// busy for ever; more than kRefusalLimit refusals in a row end it.
struct RefusalCase {
    const char* name;
    Family family;
    std::uint32_t refusals;
    std::uint32_t outcome;
};

class UpdaterRefusalLimitTest : public UpdaterSimulatorTest,
                                public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(UpdaterRefusalLimitTest, RefusalsInARowAreBounded) {
    const RefusalCase& row = GetParam();
    UseFamily(row.family);
    WriteFirmware(row.family, Pattern(3 * kBlockBytes, 11));
    ASSERT_TRUE(m_sim.Start({"--family", FamilyArg(row.family), "--refuse-block",
                             "1:" + std::to_string(row.refusals)}));
    RunUpdate();
    EXPECT_EQ(m_window.Milestones().back(), row.outcome);
    EXPECT_EQ(m_window.Count(kSucceeded) + m_window.Count(kFailed), 1u);
    EXPECT_EQ(m_window.TimerTicks(), 0);

    PumpFor(50ms);  // nothing more goes out after a failure
    const std::vector<Bytes> frames = m_sim.ReceivedFrames();
    const Bytes second = frames.at(3);  // hello, start, block 0, block 1
    const auto sendings = std::count(frames.begin(), frames.end(), second);
    EXPECT_EQ(sendings, CFirmwareUpdater::kRefusalLimit + 1);
    if (row.outcome == kFailed) {
        EXPECT_EQ(frames.back(), second);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Limit, UpdaterRefusalLimitTest,
    ::testing::Values(RefusalCase{"FamilyAAtTheLimit", Family::kA, CFirmwareUpdater::kRefusalLimit,
                                  kSucceeded},
                      RefusalCase{"FamilyAPastTheLimit", Family::kA,
                                  CFirmwareUpdater::kRefusalLimit + 1, kFailed},
                      RefusalCase{"FamilyBPastTheLimit", Family::kB,
                                  CFirmwareUpdater::kRefusalLimit + 1, kFailed}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST_F(UpdaterSimulatorTest, LastPostedPercentageLivesAsLongAsTheProcess) {
    UseFamilyA();
    WriteFirmware(Family::kA, Pattern(6 * kBlockBytes, 12));
    ASSERT_TRUE(m_sim.Start({"--family", "a"}));
    RunUpdate();
    const std::vector<int> first = m_window.Values(kProgress);
    DestroyHolder();
    const std::size_t firstEvents = m_window.Events().size();

    MakeHolder();  // a second transfer in the same process
    PostStartUp();
    ASSERT_TRUE(PumpUntil([&] { return m_window.Count(kSucceeded) == 2; })) << m_sim.Log();
    std::vector<int> second;
    for (std::size_t k = firstEvents; k < m_window.Events().size(); ++k) {
        if (m_window.Events()[k].code == kProgress) {
            second.push_back(static_cast<int>(m_window.Events()[k].value));
        }
    }
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    // The first transfer's start block computes 0, which was the value at
    // process start: no event. The second one's 0 differs from the 100 left
    // behind, and is posted.
    EXPECT_NE(first.front(), 0);
    EXPECT_EQ(second.front(), 0);
    EXPECT_EQ(first.back(), 100);
    EXPECT_EQ(second.back(), 100);
}

// ---- Against a boot loader played by hand on the pseudo-terminal ----

class UpdaterLinkTest : public CUpdaterFixture {
protected:
    void SetUp() override {
        CUpdaterFixture::SetUp();
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_pty.LinkSlaveAt(DevicePath()));
    }
    // Initialises through event 8 and runs the start routine; the hello and
    // the first block are taken off the line.
    void StartTransfer(Family family, const Bytes& image, CLinkPeer& peer) {
        UseFamily(family);
        WriteExeFile("app.s19",
                     family == Family::kA ? FamilyAFile(image) : FamilyBFile(image, m_records));
        MakeHolder();
        PostStartUp();
        ASSERT_TRUE(PumpUntil([&] { return m_window.Count(kRunning) == 2; }));
        ASSERT_EQ(peer.NextPayload(), Bytes{'D'});
        ASSERT_EQ(peer.NextPayload(), family == Family::kA ? kStartBlockA : kStartBlockB);
    }
    // HandleAnswer with a payload in a heap block of its exact size, so that
    // the address sanitizer catches any read past it.
    void Answer(const Bytes& payload) {
        const auto copy = std::make_unique<std::uint8_t[]>(payload.size());
        std::copy(payload.begin(), payload.end(), copy.get());
        McuFrameInfo info{};
        info.payloadLength = static_cast<std::uint16_t>(payload.size());
        info.payload = copy.get();
        Updater().HandleAnswer(info);
    }
    std::vector<Bytes> SentWithin(CLinkPeer& peer, std::chrono::milliseconds window = 25ms) {
        return peer.PayloadsWithin(window);
    }

    CPseudoTerminal m_pty;
    std::vector<std::string> m_records;
};

class UpdaterNoAnswerTest : public UpdaterLinkTest, public ::testing::WithParamInterface<Family> {};

TEST_P(UpdaterNoAnswerTest, StartBlockGoesOutThreeTimesThenEventThree) {
    const Family family = GetParam();
    CLinkPeer peer(family, m_pty);
    StartTransfer(family, Pattern(2 * kBlockBytes, 13), peer);
    const Bytes& start = family == Family::kA ? kStartBlockA : kStartBlockB;

    EXPECT_TRUE(SentWithin(peer).empty());  // nothing before the first time-out
    for (int tick = 1; tick <= 2; ++tick) {
        AdvanceAndPump(m_clock, kTimeoutMs);
        EXPECT_EQ(peer.NextPayload(), start) << tick;
        EXPECT_FALSE(m_window.Has(kFailed)) << tick;
    }
    AdvanceAndPump(m_clock, kTimeoutMs);
    EXPECT_EQ(m_window.Count(kFailed), 1u);

    // The timer killed itself: the clock may run on, nothing more happens.
    for (int second = 0; second < 3; ++second) {
        AdvanceAndPump(m_clock, kTimeoutMs);
    }
    EXPECT_TRUE(SentWithin(peer).empty());
    EXPECT_EQ(m_window.TimerTicks(), 3);
    EXPECT_EQ(m_window.Milestones(),
              (Codes{kStartUp, kFound, kBegin, kRunning, kRunning, kFailed}));
    EXPECT_TRUE(m_window.Values(kProgress).empty());  // 0 % all along, never posted
}

INSTANTIATE_TEST_SUITE_P(Families, UpdaterNoAnswerTest, ::testing::Values(Family::kA, Family::kB),
                         FamilyName);

// Regression: a declined start ('a' with flag 0) used to leave the repeat
// flag set, so that the first time-out repeat restarted the timer and the
// transfer failed only on the fourth tick.
TEST_F(UpdaterLinkTest, DeclinedStartThenSilenceFailsOnTheThirdTick) {
    CLinkPeer peer(Family::kA, m_pty);
    StartTransfer(Family::kA, Pattern(2 * kBlockBytes, 14), peer);
    ASSERT_TRUE(peer.Answer({'a', 0}));
    EXPECT_EQ(peer.NextPayload(), kStartBlockA);  // sent again at once

    for (int tick = 1; tick <= 2; ++tick) {
        AdvanceAndPump(m_clock, kTimeoutMs);
        EXPECT_EQ(peer.NextPayload(), kStartBlockA) << tick;
    }
    EXPECT_FALSE(m_window.Has(kFailed));
    AdvanceAndPump(m_clock, kTimeoutMs);
    EXPECT_EQ(m_window.Count(kFailed), 1u);
    EXPECT_TRUE(SentWithin(peer).empty());
}

TEST_F(UpdaterLinkTest, TickOfAForeignTimerIsARepeatRequest) {
    CLinkPeer peer(Family::kA, m_pty);
    StartTransfer(Family::kA, Pattern(2 * kBlockBytes, 15), peer);
    EXPECT_EQ(Updater().OnTimer(4711), 0);
    EXPECT_EQ(peer.NextPayload(), kStartBlockA);
    EXPECT_FALSE(m_window.Has(kFailed));
}

// Regression: answers shorter than their layout are ignored, and nothing past
// their payload is read (exact-size heap blocks under the address sanitizer).
struct AnswerStep {
    Bytes answer;
    std::optional<Bytes> sent;  // the frame this answer makes the updater send
};

TEST_F(UpdaterLinkTest, FamilyAShortAnswersAreIgnored) {
    CLinkPeer peer(Family::kA, m_pty);
    const Bytes image = Pattern(3 * kBlockBytes, 16);
    StartTransfer(Family::kA, image, peer);
    const std::vector<AnswerStep> steps = {
        {{}, std::nullopt},
        {{'a'}, std::nullopt},
        {{'a', 1}, DataBlockA(image, 0)},
        {{'b', 0x00, 0xA0, 0x00, 0x00}, std::nullopt},
        {{'b'}, std::nullopt},
        {{0x84, 0x02}, std::nullopt},  // the other family's answer
        {{'x', 1}, std::nullopt},
        {DataAnswerA(kImageBase, 1), DataBlockA(image, 1)},
        {DataAnswerA(kImageBase, 1), DataBlockA(image, 1)},  // a stale address: again
        {DataAnswerA(kImageBase + kBlockBytes, 0), DataBlockA(image, 1)},
    };
    for (std::size_t k = 0; k < steps.size(); ++k) {
        Answer(steps[k].answer);
        if (steps[k].sent) {
            EXPECT_EQ(peer.NextPayload(), steps[k].sent) << k;
        }
        EXPECT_TRUE(SentWithin(peer).empty()) << k;
    }
    Answer({'s'});
    EXPECT_TRUE(PumpUntil([&] { return m_window.Has(kSucceeded); }));
    EXPECT_TRUE(SentWithin(peer).empty());
}

TEST_F(UpdaterLinkTest, FamilyBShortAnswersAreIgnored) {
    CLinkPeer peer(Family::kB, m_pty);
    StartTransfer(Family::kB, Pattern(3 * 16, 17), peer);
    const std::vector<AnswerStep> steps = {
        {{}, std::nullopt},
        {{0x84}, std::nullopt},
        {{0x84, 0x02}, LineBlockB(m_records[0])},
        {{0x84, 0x05}, std::nullopt},
        {{'a', 1}, std::nullopt},  // the other family's answer
        {{0x84, 0x01}, LineBlockB(m_records[0])},
        {{0x84, 0x02}, LineBlockB(m_records[1])},
    };
    for (std::size_t k = 0; k < steps.size(); ++k) {
        Answer(steps[k].answer);
        if (steps[k].sent) {
            EXPECT_EQ(peer.NextPayload(), steps[k].sent) << k;
        }
        EXPECT_TRUE(SentWithin(peer).empty()) << k;
    }
    Answer({0x84, 0x00});
    EXPECT_TRUE(PumpUntil([&] { return m_window.Has(kSucceeded); }));
    EXPECT_TRUE(SentWithin(peer).empty());
}

TEST_F(UpdaterLinkTest, VersionAndReadBackAnswersTakeExactlyTheirPayload) {
    CLinkPeer peer(Family::kA, m_pty);
    UseFamilyA();
    MakeHolder();
    PostStartUp();
    ASSERT_TRUE(WaitUntilFinished());  // no firmware file: event 4, the port stays open
    ASSERT_EQ(peer.NextPayload(), Bytes{'D'});

    struct VersionRow {
        Bytes answer;
        std::string text;
    };
    const VersionRow versions[] = {
        {{'V'}, ""},
        {{'V', 'H', 'X', '9'}, "HX9"},  // fills the payload: no zero byte
        {{'V', 'A', 'B', 0, 'C'}, "AB"},
    };
    for (const VersionRow& row : versions) {
        Answer(row.answer);
        EXPECT_TRUE(Updater().IsVersionReceived());
        EXPECT_EQ(Updater().GetVersionText(), row.text);
    }

    std::vector<Bytes> readBacks;
    m_window.onReadBack = [&](const McuFrameInfo& info) {
        EXPECT_EQ(info.command, '_');
        readBacks.emplace_back(info.payload, info.payload + info.payloadLength);
    };
    Answer({'_', 1, 2, 3, 4});
    Answer({'_'});
    ASSERT_TRUE(PumpUntil([&] { return readBacks.size() == 2; }));
    EXPECT_EQ(readBacks[0], (Bytes{'_', 1, 2, 3}));
    EXPECT_TRUE(readBacks[1].empty());
    EXPECT_EQ(m_window.Count(kReadBack), 2u);
    EXPECT_TRUE(SentWithin(peer).empty());  // none of these answers wakes the sender
}

// A file found at start-up but refused when read: nothing but the hello is
// ever written.
struct RefusedFileCase {
    const char* name;
    Family family;
    std::string contents;
};

std::string CorruptedFamilyAFile() {
    std::string text = FamilyAFile(Pattern(2 * kBlockBytes, 18));
    const std::size_t digit = text.find("S2") + 12;  // inside the first data record
    text[digit] = text[digit] == '0' ? '1' : '0';
    return text;
}

std::string TaggedFamilyBFile() {
    std::vector<std::string> records;
    return FamilyBFile(Pattern(64, 19), records, "STM8QD5C");
}

class UpdaterRefusedFileTest : public UpdaterLinkTest,
                               public ::testing::WithParamInterface<RefusedFileCase> {};

TEST_P(UpdaterRefusedFileTest, OnlyTheHelloIsWritten) {
    const RefusedFileCase& row = GetParam();
    UseFamily(row.family);
    WriteExeFile("app.s19", row.contents);
    CLinkPeer peer(row.family, m_pty);
    MakeHolder();
    PostStartUp();
    ASSERT_TRUE(WaitUntilFinished());
    EXPECT_EQ(m_window.Milestones(), (Codes{kStartUp, kFound, kBegin, kRunning, kMissing}));
    EXPECT_EQ(Updater().BeginTransfer(), 0);

    for (int second = 0; second < 3; ++second) {
        AdvanceAndPump(m_clock, kTimeoutMs);
    }
    EXPECT_EQ(SentWithin(peer, 50ms), std::vector<Bytes>{Bytes{'D'}});
    EXPECT_EQ(peer.Received(), HelloFrame(row.family));
    EXPECT_EQ(m_window.TimerTicks(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, UpdaterRefusedFileTest,
    ::testing::Values(
        RefusedFileCase{"FamilyAWithoutTag", Family::kA, FamilyAFile(Pattern(256, 20), "")},
        RefusedFileCase{"FamilyAOtherTag", Family::kA, FamilyAFile(Pattern(256, 21), "STM8")},
        RefusedFileCase{"FamilyABadChecksum", Family::kA, CorruptedFamilyAFile()},
        RefusedFileCase{"FamilyBWithTheFamilyATag", Family::kB, TaggedFamilyBFile()}),
    [](const ::testing::TestParamInfo<RefusedFileCase>& info) {
        return std::string(info.param.name);
    });

// The platform decision: family, rate, and the tty's speed.
struct LineCase {
    const char* name;
    const char* cpuType;
    unsigned projectType;
    const char* hwVersion;
    Family family;
    std::uint32_t baudRate;
};

class UpdaterLineSettingsTest : public UpdaterLinkTest,
                                public ::testing::WithParamInterface<LineCase> {};

TEST_P(UpdaterLineSettingsTest, PortOpensAtTheFamilysRate) {
    const LineCase& row = GetParam();
    m_root.WriteUnitRegistry(row.cpuType, row.projectType, row.hwVersion);
    CLinkPeer peer(row.family, m_pty);
    MakeHolder();
    PostStartUp();
    ASSERT_TRUE(WaitUntilFinished());
    EXPECT_EQ(m_window.Milestones(), (Codes{kStartUp, kMissing}));

    EXPECT_EQ(Updater().GetFamily(), row.family == Family::kA ? CFirmwareUpdater::Family::kA
                                                              : CFirmwareUpdater::Family::kB);
    EXPECT_EQ(Updater().GetBaudRate(), row.baudRate);
    termios settings{};
    ASSERT_EQ(tcgetattr(Updater().GetPortHandle(), &settings), 0);
    const speed_t speed = row.baudRate == 19200 ? B19200 : B115200;
    EXPECT_EQ(cfgetospeed(&settings), speed);
    EXPECT_EQ(cfgetispeed(&settings), speed);
    EXPECT_EQ(peer.NextPayload(), Bytes{'D'});
    EXPECT_EQ(peer.Received(), HelloFrame(row.family));
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, UpdaterLineSettingsTest,
    ::testing::Values(LineCase{"FamilyBOnV1", "S5P6450", 18, "V1.3", Family::kB, 19200},
                      LineCase{"FamilyBOnV2", "S5P6450", 18, "V2.0", Family::kB, 115200},
                      LineCase{"FamilyBLowerCaseV1", "S5P6450", 18, "v1.3", Family::kB, 115200},
                      LineCase{"FamilyBWithoutHwVersion", "S5P6450", 18, "", Family::kB, 115200},
                      LineCase{"FamilyAOnV1", "MSTAR786", 18, "V1.0", Family::kA, 115200},
                      LineCase{"ProjectTwentyOnV1", "S3C6410", 20, "V1.0", Family::kA, 115200}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

// The version-wait counter is never reset within a process: the first
// Initialise spends the whole wait, a later one none of it.
TEST_F(UpdaterLinkTest, VersionWaitIsSpentOncePerProcess) {
    UsePlatformWithVersion();
    m_clock.SetRealPause(1ms);  // nothing answers: no need to give it time
    const auto initialiseOnce = [&] {
        MakeHolder();
        const std::uint64_t before = m_clock.NowMs();
        m_holder->Initialise();
        const std::uint64_t waited = m_clock.NowMs() - before;
        platform::PumpMessages();
        DestroyHolder();
        return waited;
    };
    const std::uint64_t fullWait =
        CFirmwareUpdater::kVersionPolls * CFirmwareUpdater::kVersionPollMs;
    EXPECT_EQ(initialiseOnce(), fullWait);
    EXPECT_EQ(initialiseOnce(), 0u);
    CFirmwareUpdater::ResetProcessValuesForTesting();
    EXPECT_EQ(initialiseOnce(), fullWait);
    // Each time: no version (event 3), then no firmware file (event 4).
    EXPECT_EQ(m_window.Milestones(),
              (Codes{kFailed, kMissing, kFailed, kMissing, kFailed, kMissing}));
}

}  // namespace
