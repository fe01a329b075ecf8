// Answers that come after their frame's time-out, found by the fault soak: a
// boot loader that answers a frame and its repeat sends two answers for one
// frame, and the second arrives when the updater has moved on or has ended.
// The boot loader is played by hand on a pseudo-terminal; the time-outs run
// on the test clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/firmware_updater.h"
#include "mcu_link/engine_events.h"
#include "tests/engine/updater_test_support.h"
#include "tests/support/pseudo_terminal.h"

namespace {

using namespace updater_test;
using testing_support::CPseudoTerminal;

constexpr std::uint32_t kSucceeded = static_cast<std::uint32_t>(EngineEvent::kUpdateSucceeded);
constexpr std::uint32_t kFailed = static_cast<std::uint32_t>(EngineEvent::kUpdateFailed);
constexpr std::uint32_t kRunning = static_cast<std::uint32_t>(EngineEvent::kTransferRunning);
constexpr std::uint32_t kTimeoutMs = CFirmwareUpdater::kAnswerTimeoutMs;
constexpr std::uint32_t kImageBase = 0xA000;
constexpr std::size_t kBlockBytes = 128;
constexpr auto kQuiet = 30ms;  // long against a frame written on the pseudo-terminal

const Bytes kStartBlockA = {'a', 'S', 'T', 'M', '8'};
const Bytes kEndBlockA = {'c', 'S', 'T', 'M', '8'};
const Bytes kStartBlockB = {'Y', 0x01};
const Bytes kEndBlockB = {'Y', 0x00};
const Bytes kGoOnB = {0x84, 0x02};
const Bytes kDoneB = {0x84, 0x00};

Bytes DataAnswerA(std::size_t block, std::uint8_t flag) {
    const auto address = static_cast<std::uint32_t>(kImageBase + block * kBlockBytes);
    return {'b',
            static_cast<std::uint8_t>(address),
            static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address >> 16),
            static_cast<std::uint8_t>(address >> 24),
            flag};
}

// The first bytes of a data block: 'b' and its address.
Bytes BlockHeadA(std::size_t block) {
    Bytes head = DataAnswerA(block, 0);
    head.pop_back();
    return head;
}

Bytes Head(const std::optional<Bytes>& payload) {
    if (!payload) {
        return {};
    }
    return Bytes(payload->begin(), payload->begin() + std::min<std::size_t>(payload->size(), 5));
}

class LateAnswerTest : public CUpdaterFixture {
protected:
    void SetUp() override {
        CUpdaterFixture::SetUp();
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_pty.LinkSlaveAt(DevicePath()));
    }
    // Starts the update; the hello and the start block are taken off the line.
    void StartTransfer(Family family, std::size_t imageBytes, CLinkPeer& peer) {
        UseFamily(family);
        const Bytes image = Pattern(imageBytes, 21);
        std::vector<std::string> records;
        WriteExeFile("app.s19",
                     family == Family::kA ? FamilyAFile(image) : FamilyBFile(image, records));
        MakeHolder();
        PostStartUp();
        ASSERT_TRUE(PumpUntil([&] { return m_window.Count(kRunning) == 2; }));
        ASSERT_EQ(peer.NextPayload(), Bytes{'D'});
        ASSERT_EQ(peer.NextPayload(), family == Family::kA ? kStartBlockA : kStartBlockB);
    }
    // One time-out: the frame in flight goes out again.
    void TimeOut() { AdvanceAndPump(m_clock, kTimeoutMs); }
    std::size_t FinalEvents() const { return m_window.Count(kSucceeded) + m_window.Count(kFailed); }

    CPseudoTerminal m_pty;
};

// Regression: the start block was answered late, after its repeat, so two 'a'
// answers came. The second one used to send the next data block before the
// first had been answered; a refusal of the first then made the updater repeat
// the second, and block 0 was never written while the transfer went on to
// succeed.
TEST_F(LateAnswerTest, SecondAnswerToTheStartBlockDoesNotSkipABlock) {
    CLinkPeer peer(Family::kA, m_pty);
    StartTransfer(Family::kA, 3 * kBlockBytes, peer);
    TimeOut();
    ASSERT_EQ(peer.NextPayload(), kStartBlockA);

    ASSERT_TRUE(peer.Answer({'a', 1}));
    ASSERT_TRUE(peer.Answer({'a', 1}));  // the answer to the repeat
    EXPECT_EQ(Head(peer.NextPayload()), BlockHeadA(0));
    EXPECT_TRUE(peer.PayloadsWithin(kQuiet).empty());  // block 1 waits for block 0's answer

    ASSERT_TRUE(peer.Answer(DataAnswerA(0, 0)));  // block 0 refused
    EXPECT_EQ(Head(peer.NextPayload()), BlockHeadA(0));
    for (std::size_t block = 0; block < 3; ++block) {
        ASSERT_TRUE(peer.Answer(DataAnswerA(block, 1)));
        EXPECT_EQ(Head(peer.NextPayload()), block < 2 ? BlockHeadA(block + 1) : kEndBlockA);
    }
    ASSERT_TRUE(peer.Answer({'s'}));
    EXPECT_TRUE(PumpUntil([&] { return m_window.Has(kSucceeded); }));
    EXPECT_EQ(FinalEvents(), 1u);
}

// A start block declined and answered again after its repeat: the late
// "go on" is taken, the late "declined" behind it is not.
TEST_F(LateAnswerTest, LateDeclineAfterTheStartWasTakenChangesNothing) {
    CLinkPeer peer(Family::kA, m_pty);
    StartTransfer(Family::kA, 2 * kBlockBytes, peer);
    ASSERT_TRUE(peer.Answer({'a', 1}));
    EXPECT_EQ(Head(peer.NextPayload()), BlockHeadA(0));
    ASSERT_TRUE(peer.Answer({'a', 0}));
    EXPECT_TRUE(peer.PayloadsWithin(kQuiet).empty());
    ASSERT_TRUE(peer.Answer(DataAnswerA(0, 1)));
    EXPECT_EQ(Head(peer.NextPayload()), BlockHeadA(1));
}

// Regression: the end block answered late, after its repeat: the second
// "complete" answer used to post event 2 a second time.
class LateFinalAnswerTest : public LateAnswerTest, public ::testing::WithParamInterface<Family> {};

TEST_P(LateFinalAnswerTest, SecondCompleteAnswerPostsNothing) {
    const Family family = GetParam();
    CLinkPeer peer(family, m_pty);
    StartTransfer(family, 10, peer);
    if (family == Family::kA) {
        ASSERT_TRUE(peer.Answer({'a', 1}));
        EXPECT_EQ(Head(peer.NextPayload()), BlockHeadA(0));
        ASSERT_TRUE(peer.Answer(DataAnswerA(0, 1)));
    } else {
        // The header, data and termination lines.
        for (int line = 0; line < 3; ++line) {
            ASSERT_TRUE(peer.Answer(kGoOnB));
            ASSERT_TRUE(peer.NextPayload().has_value()) << line;
        }
        ASSERT_TRUE(peer.Answer(kGoOnB));
    }
    const Bytes& end = family == Family::kA ? kEndBlockA : kEndBlockB;
    ASSERT_EQ(peer.NextPayload(), end);
    TimeOut();
    ASSERT_EQ(peer.NextPayload(), end);

    const Bytes& done = family == Family::kA ? Bytes{'s'} : kDoneB;
    ASSERT_TRUE(peer.Answer(done));
    ASSERT_TRUE(peer.Answer(done));  // the answer to the repeat
    ASSERT_TRUE(PumpUntil([&] { return m_window.Has(kSucceeded); }));
    PumpFor(kQuiet);
    for (int tick = 0; tick < 3; ++tick) {
        TimeOut();
    }
    PumpFor(kQuiet);
    EXPECT_EQ(FinalEvents(), 1u);
    EXPECT_TRUE(peer.PayloadsWithin(kQuiet).empty());
}

// Regression: an answer that came after the third time-out had ended the
// transfer with event 3 used to start it again: frames went out after the
// failure, and a later success posted event 2 behind event 3.
TEST_P(LateFinalAnswerTest, AnswerAfterTheFailureDoesNotRevive) {
    const Family family = GetParam();
    CLinkPeer peer(family, m_pty);
    StartTransfer(family, 2 * kBlockBytes, peer);
    for (int tick = 1; tick <= 2; ++tick) {
        TimeOut();
        ASSERT_TRUE(peer.NextPayload().has_value()) << tick;
    }
    TimeOut();
    ASSERT_EQ(m_window.Count(kFailed), 1u);

    ASSERT_TRUE(peer.Answer(family == Family::kA ? Bytes{'a', 1} : kGoOnB));
    EXPECT_TRUE(peer.PayloadsWithin(kQuiet).empty());
    ASSERT_TRUE(peer.Answer(family == Family::kA ? Bytes{'s'} : kDoneB));
    PumpFor(kQuiet);
    for (int tick = 0; tick < 3; ++tick) {
        TimeOut();
    }
    EXPECT_TRUE(peer.PayloadsWithin(kQuiet).empty());
    EXPECT_EQ(FinalEvents(), 1u);
    EXPECT_FALSE(m_window.Has(kSucceeded));
}

INSTANTIATE_TEST_SUITE_P(Families, LateFinalAnswerTest, ::testing::Values(Family::kA, Family::kB),
                         [](const ::testing::TestParamInfo<Family>& info) {
                             return std::string(info.param == Family::kA ? "FamilyA" : "FamilyB");
                         });

}  // namespace
