#include "tools/bootloader_sim/bootloader_simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mcu_link/line_send_block.h"
#include "mcu_link/stm8_send_block.h"
#include "mcu_link/sum_frame_codec.h"
#include "mcu_link/xor_frame_codec.h"
#include "tests/mcu_link/frame_test_support.h"

namespace {

using link_test::Bytes;
using link_test::Hex;
using link_test::Text;

constexpr std::uint8_t kCommandA = 0x41;
constexpr std::uint8_t kSubCommandA = 0x4F;
constexpr std::uint8_t kCommandB = 0x33;
constexpr std::uint8_t kSubCommandB = 0x01;

Bytes FrameA(const Bytes& payload) {
    CXorFrameCodec codec;
    return link_test::Pack(codec, kCommandA, kSubCommandA, payload);
}

Bytes FrameB(const Bytes& payload) {
    CSumFrameCodec codec;
    return link_test::Pack(codec, kCommandB, kSubCommandB, payload);
}

Bytes BlockPayload(const CMcuSendBlock& block) {
    return Bytes(block.GetBlockBuf(), block.GetBlockBuf() + block.GetBlockLen());
}

Bytes DataBlockA(std::uint32_t address, const Bytes& data) {
    CStm8SendBlock block;
    block.MakeData(address, data.data(), static_cast<std::uint32_t>(data.size()));
    return FrameA(BlockPayload(block));
}

Bytes LineBlockB(const std::string& line) {
    CLineSendBlock block;
    block.MakeData(0, reinterpret_cast<const std::uint8_t*>(line.data()),
                   static_cast<std::uint32_t>(line.size()));
    return FrameB(BlockPayload(block));
}

const Bytes kHelloA = Hex("21 23 41 4F 08 00 44 40 0D");
const Bytes kStartA = Hex("21 23 41 4F 0C 00 61 53 54 4D 38 13 0D");
const Bytes kEndA = Hex("21 23 41 4F 0C 00 63 53 54 4D 38 11 0D");
const Bytes kHelloB = Hex("24 23 33 01 01 44 79 40 24");
const Bytes kStartB = Hex("24 23 33 01 02 59 01 90 40 24");
const Bytes kEndB = Hex("24 23 33 01 02 59 00 8F 40 24");

const Bytes kVersionAnswer = Hex(
    "21 23 41 4F 16 00 56 48 58 39 30 30 32 30 31 33 30 31 30 35 00 61 0D");  // 'V' "HX90020130105"
                                                                              // 0
const Bytes kStartAnswer = Hex("21 23 41 4F 09 00 61 01 65 0D");              // 'a' 1
const Bytes kEndAnswer = Hex("21 23 41 4F 08 00 73 77 0D");                   // 's'
const Bytes kGoOnB = Hex("24 23 33 01 02 84 02 BC 40 24");
const Bytes kRepeatB = Hex("24 23 33 01 02 84 01 BB 40 24");
const Bytes kCompleteB = Hex("24 23 33 01 02 84 00 BA 40 24");

// Three records of a small image, with their own checksums.
const std::vector<std::string> kRecords = {
    "S00600004844521B",    // header "HDR"
    "S107010001020304ED",  // 4 bytes at 0x0100
    "S1050104AABB90",      // 2 bytes at 0x0104
    "S9030000FC",          // end
};

Bytes Pattern(std::size_t count, std::uint8_t seed) {
    Bytes bytes(count);
    for (std::size_t k = 0; k < count; ++k) {
        bytes[k] = static_cast<std::uint8_t>(seed + k * 7);
    }
    return bytes;
}

class SimulatorTest : public ::testing::Test {
protected:
    CBootloaderSimulator& Make(SimulatorOptions options = {}) {
        m_simulator.emplace(std::move(options),
                            [this](std::string_view line) { m_log.emplace_back(line); });
        return *m_simulator;
    }
    CBootloaderSimulator& MakeB(SimulatorOptions options = {}) {
        options.family = SimulatorFamily::kB;
        return Make(std::move(options));
    }

    std::vector<SimulatorAction> Feed(const Bytes& bytes) {
        return m_simulator->Receive(bytes.data(), bytes.size());
    }
    // Everything the actions write, joined.
    Bytes Written(const Bytes& bytes) { return Joined(Feed(bytes)); }
    static Bytes Joined(const std::vector<SimulatorAction>& actions) {
        Bytes all;
        for (const SimulatorAction& action : actions) {
            all.insert(all.end(), action.bytes.begin(), action.bytes.end());
        }
        return all;
    }
    bool Logged(std::string_view piece) const {
        return std::any_of(m_log.begin(), m_log.end(), [piece](const std::string& line) {
            return line.find(piece) != std::string::npos;
        });
    }

    std::vector<std::string> m_log;  // outlives the simulator that logs into it
    std::optional<CBootloaderSimulator> m_simulator;
};

// --- The dialogues, byte for byte -------------------------------------------

TEST_F(SimulatorTest, FamilyAAnswersAWholeTransferAndKeepsTheImage) {
    Make();
    const Bytes first = Pattern(128, 1);
    const Bytes second = Pattern(128, 2);
    EXPECT_EQ(Written(kHelloA), kVersionAnswer);
    EXPECT_EQ(Written(kStartA), kStartAnswer);
    EXPECT_EQ(Written(DataBlockA(0xA000, first)), Hex("21 23 41 4F 0D 00 62 00 A0 00 00 01 C2 0D"));
    EXPECT_EQ(Written(DataBlockA(0xA080, second)),
              Hex("21 23 41 4F 0D 00 62 80 A0 00 00 01 42 0D"));
    EXPECT_EQ(m_simulator->TransfersServed(), 0u);
    EXPECT_EQ(Written(kEndA), kEndAnswer);

    EXPECT_EQ(m_simulator->TransfersServed(), 1u);
    EXPECT_EQ(m_simulator->FramesReceived(), 5u);
    EXPECT_TRUE(m_simulator->Violations().empty());
    EXPECT_EQ(m_simulator->Image(), link_test::Concat({first, second}));
    EXPECT_TRUE(Logged("<- 21 23 41 4F 08 00 44 40 0D"));
}

TEST_F(SimulatorTest, FamilyAVersionTextIsTheOneGiven) {
    SimulatorOptions options;
    options.versionText = "HX900V2";
    Make(options);
    const Bytes answer = Written(kHelloA);
    CXorFrameCodec codec;
    ASSERT_TRUE(link_test::Feed(codec, answer));
    const auto frame = link_test::ParseOne(codec);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->payload, link_test::Concat({Text("VHX900V2"), Hex("00")}));
}

TEST_F(SimulatorTest, FamilyAReadBackReturnsTheKeyAreaWithZerosBehindTheData) {
    Make();
    const Bytes key = Pattern(100, 9);
    EXPECT_TRUE(Written(FrameA(link_test::Concat({Text("L"), key}))).empty());  // not answered
    EXPECT_EQ(m_simulator->KeyData(), key);

    const Bytes answer = Written(FrameA(Text("M")));
    CXorFrameCodec codec;
    ASSERT_TRUE(link_test::Feed(codec, answer));
    const auto frame = link_test::ParseOne(codec);
    ASSERT_TRUE(frame.has_value());
    Bytes expected = link_test::Concat({Text("_"), key});
    expected.resize(1 + CBootloaderSimulator::kKeyAreaBytes, 0);
    EXPECT_EQ(frame->payload, expected);
    EXPECT_EQ(m_simulator->TransfersServed(), 1u);  // a key update counts as served
}

TEST_F(SimulatorTest, FamilyBAnswersAWholeTransferAndKeepsLinesAndImage) {
    MakeB();
    EXPECT_TRUE(Written(kHelloB).empty());
    EXPECT_EQ(Written(kStartB), kGoOnB);
    for (const std::string& record : kRecords) {
        EXPECT_EQ(Written(LineBlockB(record)), kGoOnB) << record;
    }
    EXPECT_EQ(Written(kEndB), kCompleteB);

    EXPECT_EQ(m_simulator->TransfersServed(), 1u);
    EXPECT_TRUE(m_simulator->Violations().empty());
    EXPECT_EQ(m_simulator->Lines(), kRecords);
    EXPECT_EQ(m_simulator->Image(), Hex("01 02 03 04 AA BB"));  // from 0x0100
}

TEST_F(SimulatorTest, FamilyBImageFillsGapsAndGrowsDownwards) {
    MakeB();
    Feed(kStartB);
    Feed(LineBlockB("S1050104AABB90"));    // 0x0104
    Feed(LineBlockB("S10501001122C6"));    // 0x0100, below the first
    Feed(LineBlockB("S20600010801559A"));  // 0x000108 (S2), behind a gap at 0x0106
    EXPECT_TRUE(m_simulator->Violations().empty());
    EXPECT_EQ(m_simulator->Image(), Hex("11 22 FF FF AA BB FF FF 01 55"));
}

TEST_F(SimulatorTest, RepeatedEndIsAnsweredAgainButCountedOnce) {
    Make();
    Feed(kStartA);
    EXPECT_EQ(Written(kEndA), kEndAnswer);
    EXPECT_EQ(Written(kEndA), kEndAnswer);
    EXPECT_EQ(m_simulator->TransfersServed(), 1u);
    EXPECT_TRUE(m_simulator->Violations().empty());
}

// --- Violations ---------------------------------------------------------------

struct ViolationCase {
    const char* name;
    SimulatorFamily family;
    std::vector<Bytes> frames;
    const char* reported;  // part of the violation text
    Bytes lastAnswer;      // what the last frame is answered with (empty: nothing)
};

Bytes WithByteChanged(Bytes frame, std::size_t position, std::uint8_t value) {
    frame[position] = value;
    return frame;
}

class SimulatorViolationTest : public SimulatorTest,
                               public ::testing::WithParamInterface<ViolationCase> {};

TEST_P(SimulatorViolationTest, IsReported) {
    const ViolationCase& row = GetParam();
    SimulatorOptions options;
    options.family = row.family;
    Make(options);
    std::vector<SimulatorAction> last;
    for (const Bytes& frame : row.frames) {
        last = Feed(frame);
    }
    ASSERT_EQ(m_simulator->Violations().size(), 1u);
    EXPECT_NE(m_simulator->Violations()[0].find(row.reported), std::string::npos)
        << m_simulator->Violations()[0];
    EXPECT_TRUE(Logged("!! violation 1: "));
    EXPECT_EQ(Joined(last), row.lastAnswer);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SimulatorViolationTest,
    ::testing::Values(
        ViolationCase{"BadXorChecksum",
                      SimulatorFamily::kA,
                      {WithByteChanged(kHelloA, 7, 0x41)},
                      "checksum 0x41, expected 0x40",
                      {}},
        ViolationCase{"BadSumChecksum",
                      SimulatorFamily::kB,
                      {kStartB, WithByteChanged(kEndB, 7, 0x90)},
                      "checksum 0x90, expected 0x8F",
                      {}},
        ViolationCase{"OutOfOrderAddress",
                      SimulatorFamily::kA,
                      {kStartA, DataBlockA(0xA080, Pattern(128, 3))},
                      "address 0xA080 out of order, expected 0xA000",
                      Hex("21 23 41 4F 0D 00 62 80 A0 00 00 01 42 0D")},
        ViolationCase{"AddressOutsideTheImage",
                      SimulatorFamily::kA,
                      {kStartA, DataBlockA(0x9F80, Pattern(128, 3))},
                      "not a block of the image",
                      FrameA(Hex("62 80 9F 00 00 00"))},
        ViolationCase{"BadSRecordChecksum",
                      SimulatorFamily::kB,
                      {kStartB, LineBlockB("S107010001020304EE")},
                      "checksum 0xEE, expected 0xED",
                      kRepeatB},
        ViolationCase{"UnknownCommandA",
                      SimulatorFamily::kA,
                      {FrameA(Text("Q"))},
                      "unknown command 0x51",
                      {}},
        ViolationCase{
            "UnknownCommandB", SimulatorFamily::kB, {FrameB(Hex("59 07"))}, "unknown command", {}},
        ViolationCase{"WrongFrameCommand",
                      SimulatorFamily::kA,
                      {[] {
                          CXorFrameCodec codec;
                          return link_test::Pack(codec, 0x42, kSubCommandA, Text("D"));
                      }()},
                      "command 0x42",
                      kVersionAnswer},
        ViolationCase{"StrayBytesBeforeAFrame",
                      SimulatorFamily::kA,
                      {link_test::Concat({Hex("00 55"), kHelloA})},
                      "2 stray bytes",
                      kVersionAnswer},
        ViolationCase{"ShortDataBlock",
                      SimulatorFamily::kA,
                      {kStartA, FrameA(Hex("62 00 A0 00 00 01 02"))},
                      "of 7 bytes, expected 133",
                      FrameA(Hex("62 00 A0 00 00 00"))},
        ViolationCase{"DataOutsideATransfer",
                      SimulatorFamily::kA,
                      {DataBlockA(0xA000, Pattern(128, 3))},
                      "outside a transfer",
                      Hex("21 23 41 4F 0D 00 62 00 A0 00 00 01 C2 0D")}),
    [](const ::testing::TestParamInfo<ViolationCase>& info) { return info.param.name; });

TEST_F(SimulatorTest, ARepeatOfTheLastBlockIsNoViolation) {
    Make();
    Feed(kStartA);
    const Bytes block = DataBlockA(0xA000, Pattern(128, 4));
    Feed(block);
    EXPECT_EQ(Written(block), Hex("21 23 41 4F 0D 00 62 00 A0 00 00 01 C2 0D"));
    EXPECT_TRUE(m_simulator->Violations().empty());
    EXPECT_EQ(m_simulator->Image(), Pattern(128, 4));
}

// --- Misbehaviour on purpose ----------------------------------------------------

TEST_F(SimulatorTest, NoVersionLeavesTheHelloUnanswered) {
    SimulatorOptions options;
    options.sendVersion = false;
    Make(options);
    EXPECT_TRUE(Feed(kHelloA).empty());
    EXPECT_EQ(Written(kStartA), kStartAnswer);
}

TEST_F(SimulatorTest, SilentAfterAnswersOnlyTheFirstFrames) {
    SimulatorOptions options;
    options.silentAfter = 2;
    Make(options);
    EXPECT_FALSE(Feed(kHelloA).empty());
    EXPECT_FALSE(Feed(kStartA).empty());
    EXPECT_TRUE(Feed(kEndA).empty());
    EXPECT_TRUE(Feed(kStartA).empty());
    EXPECT_EQ(m_simulator->TransfersServed(), 0u);
}

TEST_F(SimulatorTest, HangupAfterClosesTheLineOnThatFrameAndTakesNothingMore) {
    SimulatorOptions options;
    options.hangupAfter = 2;
    Make(options);
    EXPECT_EQ(Written(kHelloA), kVersionAnswer);
    const auto actions = Feed(kStartA);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, SimulatorAction::Kind::kHangUp);
    EXPECT_TRUE(m_simulator->HasHungUp());
    EXPECT_TRUE(Feed(kHelloA).empty());
    EXPECT_EQ(m_simulator->FramesReceived(), 2u);
}

TEST_F(SimulatorTest, RefuseBlockRefusesThatBlockTheGivenTimesInFamilyA) {
    SimulatorOptions options;
    options.refuseBlocks = {{1, 2}};
    Make(options);
    Feed(kStartA);
    Feed(DataBlockA(0xA000, Pattern(128, 1)));
    const Bytes second = DataBlockA(0xA080, Pattern(128, 2));
    const Bytes refused = Hex("21 23 41 4F 0D 00 62 80 A0 00 00 00 43 0D");
    EXPECT_EQ(Written(second), refused);
    EXPECT_EQ(Written(second), refused);
    EXPECT_EQ(Written(second), Hex("21 23 41 4F 0D 00 62 80 A0 00 00 01 42 0D"));
    EXPECT_TRUE(m_simulator->Violations().empty());
    EXPECT_EQ(m_simulator->Image(), link_test::Concat({Pattern(128, 1), Pattern(128, 2)}));
}

TEST_F(SimulatorTest, RefuseBlockAsksForTheLineAgainInFamilyB) {
    SimulatorOptions options;
    options.refuseBlocks = {{0, 1}};
    MakeB(options);
    Feed(kStartB);
    EXPECT_EQ(Written(LineBlockB(kRecords[0])), kRepeatB);
    EXPECT_EQ(Written(LineBlockB(kRecords[0])), kGoOnB);
    EXPECT_EQ(m_simulator->Lines(), std::vector<std::string>{kRecords[0]});
}

TEST_F(SimulatorTest, WrongAddressAcknowledgesTheNextBlockInstead) {
    SimulatorOptions options;
    options.wrongAddresses = {{0, 1}};
    Make(options);
    Feed(kStartA);
    const Bytes block = DataBlockA(0xA000, Pattern(128, 5));
    EXPECT_EQ(Written(block), Hex("21 23 41 4F 0D 00 62 80 A0 00 00 01 42 0D"));  // 0xA080
    EXPECT_EQ(Written(block), Hex("21 23 41 4F 0D 00 62 00 A0 00 00 01 C2 0D"));
    EXPECT_TRUE(m_simulator->Violations().empty());
}

TEST_F(SimulatorTest, DropRateOneSendsNoAnswerAndLogsIt) {
    SimulatorOptions options;
    options.dropRate = 1.0;
    Make(options);
    EXPECT_TRUE(Feed(kHelloA).empty());
    EXPECT_TRUE(Feed(kStartA).empty());
    EXPECT_TRUE(Logged("-- answer dropped: 21 23 41 4F 09 00 61 01 65 0D"));
}

TEST_F(SimulatorTest, CorruptRateOneMakesEveryAnswerFailItsCheck) {
    SimulatorOptions options;
    options.corruptRate = 1.0;
    Make(options);
    for (const Bytes& frame : {kHelloA, kStartA, kEndA}) {
        const Bytes answer = Written(frame);
        CXorFrameCodec codec;
        ASSERT_TRUE(link_test::Feed(codec, answer));
        EXPECT_FALSE(codec.ParseRecvBuf());
        EXPECT_EQ(codec.GetRecvCount(), 0u);  // delimited and consumed: only the check failed
    }
}

TEST_F(SimulatorTest, RandomChoicesFollowTheSeed) {
    const auto droppedPattern = [this](std::uint32_t seed) {
        SimulatorOptions options;
        options.dropRate = 0.5;
        options.seed = seed;
        Make(options);
        std::string pattern;
        for (int k = 0; k < 32; ++k) {
            pattern += Feed(kHelloA).empty() ? 'x' : '.';
        }
        return pattern;
    };
    const std::string first = droppedPattern(11);
    EXPECT_EQ(droppedPattern(11), first);
    EXPECT_NE(droppedPattern(12), first);
    EXPECT_NE(first.find('x'), std::string::npos);
    EXPECT_NE(first.find('.'), std::string::npos);
}

TEST_F(SimulatorTest, NoiseComesBeforeTheAnswerWithoutAStartMark) {
    for (const SimulatorFamily family : {SimulatorFamily::kA, SimulatorFamily::kB}) {
        SimulatorOptions options;
        options.family = family;
        options.noise = true;
        Make(options);
        const bool familyA = family == SimulatorFamily::kA;
        const Bytes start = familyA ? kStartA : kStartB;
        for (int k = 0; k < 20; ++k) {
            const auto actions = Feed(start);
            ASSERT_EQ(actions.size(), 2u);
            const Bytes& noise = actions[0].bytes;
            EXPECT_GE(noise.size(), 1u);
            EXPECT_LE(noise.size(), CBootloaderSimulator::kMaxNoiseBytes);
            const std::uint8_t mark1 = familyA ? 0x21 : 0x24;
            EXPECT_EQ(std::count(noise.begin(), noise.end(), mark1), 0);
            EXPECT_EQ(std::count(noise.begin(), noise.end(), 0x23), 0);
            EXPECT_EQ(actions[1].bytes, familyA ? kStartAnswer : kGoOnB);
        }
    }
}

TEST_F(SimulatorTest, SplitWritesTheAnswerInPiecesALittleApart) {
    SimulatorOptions options;
    options.split = true;
    options.answerDelayMs = 40;
    Make(options);
    const auto actions = Feed(kHelloA);
    ASSERT_GE(actions.size(), 2u);
    ASSERT_LE(actions.size(), 3u);
    EXPECT_EQ(actions[0].delayUs, 40'000u);
    for (std::size_t k = 1; k < actions.size(); ++k) {
        EXPECT_EQ(actions[k].delayUs, CBootloaderSimulator::kSplitPauseMs * 1000);
        EXPECT_FALSE(actions[k].bytes.empty());
    }
    EXPECT_EQ(Joined(actions), kVersionAnswer);
}

TEST_F(SimulatorTest, AnswerDelayAndPacingSetTheWaitBeforeAnswering) {
    SimulatorOptions options;
    options.baud = 9600;
    options.flashWriteMs = 20;
    options.answerDelayMs = 5;
    Make(options);
    // 13-byte start frame and 10-byte answer at 9600 baud, 10 bits a byte:
    // 13542 + 10417 us (rounded up to the microsecond).
    auto actions = Feed(kStartA);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].delayUs, 5'000u + 13'542u + 10'417u);
    // 141-byte data frame and 14-byte answer: 146875 + 14584 us, plus the
    // flash write.
    actions = Feed(DataBlockA(0xA000, Pattern(128, 6)));
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].delayUs, 5'000u + 146'875u + 14'584u + 20'000u);
}

TEST_F(SimulatorTest, LinesSentAgainAfterLostAnswersAreTakenOnce) {
    // The client resends each block until it is answered, as the updater's
    // timer does; with half the answers lost, every line must still be taken
    // exactly once and the image be whole.
    SimulatorOptions options;
    options.dropRate = 0.5;
    options.corruptRate = 0.2;
    options.seed = 5;
    MakeB(options);
    const auto answered = [this](const Bytes& frame) {
        for (int sending = 0; sending < 50; ++sending) {
            CSumFrameCodec codec;
            const Bytes answer = Written(frame);
            if (link_test::Feed(codec, answer) && codec.ParseRecvBuf()) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(answered(kStartB));
    for (const std::string& record : kRecords) {
        ASSERT_TRUE(answered(LineBlockB(record)));
    }
    ASSERT_TRUE(answered(kEndB));
    EXPECT_EQ(m_simulator->Lines(), kRecords);
    EXPECT_EQ(m_simulator->Image(), Hex("01 02 03 04 AA BB"));
    EXPECT_TRUE(m_simulator->Violations().empty());
    EXPECT_TRUE(Logged("line repeated after a lost answer"));
}

TEST_F(SimulatorTest, BytesAcrossSeveralReadsAndSeveralFramesInOneRead) {
    Make();
    const Bytes both = link_test::Concat({kHelloA, kStartA});
    // The first piece ends inside the first frame, the second holds the rest.
    std::vector<SimulatorAction> actions = Feed(Bytes(both.begin(), both.begin() + 5));
    EXPECT_TRUE(actions.empty());
    actions = Feed(Bytes(both.begin() + 5, both.end()));
    EXPECT_EQ(Joined(actions), link_test::Concat({kVersionAnswer, kStartAnswer}));
    EXPECT_EQ(m_simulator->FramesReceived(), 2u);
}

}  // namespace
