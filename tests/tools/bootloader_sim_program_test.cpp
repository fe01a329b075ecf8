// The simulator program itself, over a pseudo-terminal in a scratch system
// root, driven by a cut-down updater made of the link layer's codecs and send
// blocks.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "mcu_link/line_send_block.h"
#include "tests/support/scoped_sysroot.h"
#include "tests/support/scratch_directory.h"
#include "tests/tools/child_process.h"
#include "tests/tools/link_client.h"

namespace {

using namespace std::chrono_literals;
using testing_support::CScopedSysroot;
using tools_test::Bytes;
using tools_test::CChildProcess;
using tools_test::CLinkClient;

constexpr const char* kProgram = KESTROVAN_BOOTLOADER_SIM_PROGRAM;
constexpr std::uint32_t kImageBase = 0xA000;
constexpr std::uint32_t kBlockBytes = 128;

Bytes Pattern(std::size_t count, std::uint32_t seed) {
    Bytes bytes(count);
    std::uint32_t state = seed;
    for (std::uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;  // any fixed sequence will do
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

Bytes Payload(std::initializer_list<std::uint8_t> bytes) {
    return Bytes(bytes);
}

Bytes DataAnswer(std::uint32_t address, std::uint8_t flag) {
    return {'b',
            static_cast<std::uint8_t>(address),
            static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address >> 16),
            static_cast<std::uint8_t>(address >> 24),
            flag};
}

// One S-record with its checksum; addressBytes 2 (S1), 3 (S2) or 4 (S3).
std::string Record(char type, std::uint32_t address, int addressBytes, const Bytes& data) {
    Bytes bytes{static_cast<std::uint8_t>(addressBytes + data.size() + 1)};
    for (int k = addressBytes - 1; k >= 0; --k) {
        bytes.push_back(static_cast<std::uint8_t>(address >> (8 * k)));
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::uint32_t sum = 0;
    for (const std::uint8_t byte : bytes) {
        sum += byte;
    }
    bytes.push_back(static_cast<std::uint8_t>(~sum));
    std::string text = std::string("S") + type;
    char pair[3];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        text += pair;
    }
    return text;
}

class SimulatorProgramTest : public ::testing::Test {
protected:
    std::string Path(std::string_view relative) const { return m_root.Directory() / relative; }
    std::string Link() const { return Path("dev/ttyS3"); }

    // Starts the simulator on a pseudo-terminal linked at <root>/dev/ttyS3.
    void StartSimulator(std::vector<std::string> args) {
        // A test's own time limit, given later, wins over this safety net.
        args.insert(args.begin(), {"--link", Link(), "--ready-file", Path("sim.ready"), "--log",
                                   Path("sim.log"), "--time-limit-s", "20"});
        ASSERT_TRUE(m_simulator.Start(kProgram, args));
        ASSERT_TRUE(tools_test::WaitForFile(Path("sim.ready"), 5s)) << Log();
        EXPECT_EQ(tools_test::ReadText(Path("sim.ready")), Link() + "\n");
    }
    std::string Log() const { return tools_test::ReadText(Path("sim.log")); }
    // The exit status, after the program ended by itself.
    int ExitStatus(std::chrono::milliseconds limit = 5s) {
        const auto status = m_simulator.WaitForExit(limit);
        if (!status) {
            ADD_FAILURE() << "the simulator did not end\n" << Log();
            return -1;
        }
        EXPECT_TRUE(WIFEXITED(*status)) << *status;
        return WEXITSTATUS(*status);
    }
    bool LinkExists() const {
        std::error_code error;
        return std::filesystem::is_symlink(std::filesystem::symlink_status(Link(), error));
    }

    // A whole family A transfer of image, as the updater runs it.
    void TransferA(CLinkClient& client, const Bytes& image, std::chrono::milliseconds resendAfter) {
        // The hello is answered with the version; sent again while its answer is lost.
        const Bytes version = {'V', 'H', 'X', '9', '0', '0', '2', '0',
                               '1', '3', '0', '1', '0', '5', 0};
        std::optional<Bytes> answer;
        for (int sending = 0; sending < 20 && answer != version; ++sending) {
            ASSERT_TRUE(client.Send(Payload({'D'})));
            answer = client.Await(resendAfter);
        }
        ASSERT_EQ(answer, version) << Log();
        client.Block().MakeStart();
        ASSERT_TRUE(client.Exchange(
            [](const Bytes& a) {
                return a == Payload({'a', 1});
            },
            20, resendAfter));
        for (std::uint32_t offset = 0; offset < image.size(); offset += kBlockBytes) {
            const std::uint32_t address = kImageBase + offset;
            const auto count = std::min<std::uint32_t>(
                kBlockBytes, static_cast<std::uint32_t>(image.size()) - offset);
            client.Block().MakeData(address, image.data() + offset, count);
            ASSERT_TRUE(client.Exchange(
                [address](const Bytes& a) { return a == DataAnswer(address, 1); }, 20, resendAfter))
                << "block at 0x" << std::hex << address;
        }
        client.Block().MakeEnd();
        ASSERT_TRUE(
            client.Exchange([](const Bytes& a) { return a == Payload({'s'}); }, 20, resendAfter));
    }

    CScopedSysroot m_root;
    CChildProcess m_simulator;
};

TEST_F(SimulatorProgramTest, FamilyAFirmwareAndKeyUpdateEndToEnd) {
    StartSimulator({"--family", "a", "--image-out", Path("image.bin"), "--transfers", "2"});
    CLinkClient client(CLinkClient::Family::kA);
    ASSERT_TRUE(client.Open(Link()));

    const Bytes image = Pattern(5000, 1);  // 40 blocks, the last one short
    TransferA(client, image, 2s);
    if (HasFatalFailure()) {
        return;
    }
    const int blocks = (5000 + kBlockBytes - 1) / kBlockBytes;
    EXPECT_EQ(client.Sendings(), 1 + 1 + blocks + 1);  // nothing had to be sent again

    // Key update: the data, then the read-back request.
    const Bytes key = Pattern(150, 2);
    Bytes keyFrame{'L'};
    keyFrame.insert(keyFrame.end(), key.begin(), key.end());
    ASSERT_TRUE(client.Send(keyFrame));
    ASSERT_TRUE(client.Send(Payload({'M'})));
    const auto readBack = client.Await(2s);
    ASSERT_TRUE(readBack.has_value());
    Bytes expected{'_'};
    expected.insert(expected.end(), key.begin(), key.end());
    expected.resize(257, 0);
    EXPECT_EQ(*readBack, expected);
    client.Close();

    EXPECT_EQ(ExitStatus(), 0) << Log();
    EXPECT_FALSE(LinkExists());
    const Bytes written = testing_support::ReadFileBytes(Path("image.bin"));
    ASSERT_EQ(written.size(), static_cast<std::size_t>(blocks) * kBlockBytes);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), written.begin()));
    EXPECT_TRUE(std::all_of(written.begin() + 5000, written.end(), [](auto b) { return b == 0; }));
    EXPECT_NE(Log().find("2 transfers served, 0 violations"), std::string::npos) << Log();
}

TEST_F(SimulatorProgramTest, FamilyBFirmwareEndToEndWithPacedAnswers) {
    StartSimulator({"--family", "b", "--image-out", Path("image.bin"), "--lines-out",
                    Path("lines.txt"), "--transfers", "1", "--baud", "115200", "--flash-write-ms",
                    "1"});
    const Bytes image = Pattern(640, 3);
    std::vector<std::string> records = {Record('0', 0, 2, {'H', 'D', 'R'})};
    for (std::uint32_t offset = 0; offset < image.size(); offset += 16) {
        const Bytes data(image.begin() + offset, image.begin() + offset + 16);
        // Both address widths: the first half as S1, the rest as S2.
        records.push_back(offset < 320 ? Record('1', 0x8000 + offset, 2, data)
                                       : Record('2', 0x8000 + offset, 3, data));
    }
    records.push_back(Record('9', 0x8000, 2, {}));

    CLinkClient client(CLinkClient::Family::kB);
    ASSERT_TRUE(client.Open(Link()));
    ASSERT_TRUE(client.Send(Payload({'D'})));
    EXPECT_FALSE(client.Await(100ms).has_value());  // family B answers no hello
    const auto goOn = [](const Bytes& a) { return a == Payload({0x84, 0x02}); };
    client.Block().MakeStart();
    ASSERT_TRUE(client.Exchange(goOn, 20, 2s));
    for (const std::string& record : records) {
        client.Block().MakeData(0, reinterpret_cast<const std::uint8_t*>(record.data()),
                                static_cast<std::uint32_t>(record.size()));
        ASSERT_TRUE(client.Exchange(goOn, 20, 2s)) << record;
    }
    client.Block().MakeEnd();
    ASSERT_TRUE(client.Exchange([](const Bytes& a) { return a == Payload({0x84, 0x00}); }, 20, 2s));
    EXPECT_EQ(client.Sendings(), 1 + 1 + static_cast<int>(records.size()) + 1);
    client.Close();

    EXPECT_EQ(ExitStatus(), 0) << Log();
    std::string lines;
    for (const std::string& record : records) {
        lines += record + "\n";
    }
    EXPECT_EQ(tools_test::ReadText(Path("lines.txt")), lines);
    EXPECT_EQ(testing_support::ReadFileBytes(Path("image.bin")), image);
}

TEST_F(SimulatorProgramTest, MisbehavingFamilyAStillDeliversTheWholeImage) {
    StartSimulator({"--family", "a", "--image-out", Path("image.bin"), "--transfers", "1",
                    "--drop-rate", "0.15", "--corrupt-rate", "0.15", "--seed", "3", "--noise",
                    "--split", "--refuse-block", "3:2", "--wrong-address", "5"});
    CLinkClient client(CLinkClient::Family::kA);
    ASSERT_TRUE(client.Open(Link()));
    const Bytes image = Pattern(2048, 4);
    TransferA(client, image, 150ms);
    if (HasFatalFailure()) {
        return;
    }
    client.Close();

    EXPECT_EQ(ExitStatus(), 0) << Log();
    EXPECT_EQ(testing_support::ReadFileBytes(Path("image.bin")), image);
    const std::string log = Log();
    // Two refusals and one wrong address cost three sendings at least.
    EXPECT_GE(client.Sendings(), 1 + 1 + 16 + 1 + 3);
    for (const char* seen : {"(noise)", ", piece 2 of ", "block 3 at 0xA180 refused",
                             "block 5 at 0xA280 acknowledged with a wrong address"}) {
        EXPECT_NE(log.find(seen), std::string::npos) << seen;
    }
    EXPECT_TRUE(log.find("answer dropped") != std::string::npos ||
                log.find("corrupted answer") != std::string::npos);
}

TEST_F(SimulatorProgramTest, HangsUpOnTheGivenFrameAndRemovesItsLink) {
    StartSimulator({"--hangup-after", "2"});
    CLinkClient client(CLinkClient::Family::kA);
    ASSERT_TRUE(client.Open(Link()));
    ASSERT_TRUE(client.Send(Payload({'D'})));
    EXPECT_TRUE(client.Await(2s).has_value());
    client.Block().MakeStart();
    ASSERT_TRUE(client.SendBlock());
    EXPECT_FALSE(client.Await(500ms).has_value());
    pollfd line{client.Device(), POLLIN, 0};
    EXPECT_EQ(poll(&line, 1, 0), 1);
    EXPECT_NE(line.revents & POLLHUP, 0);  // the far side is gone

    EXPECT_EQ(ExitStatus(), 0) << Log();
    EXPECT_FALSE(LinkExists());
    EXPECT_NE(Log().find("hanging up on frame 2"), std::string::npos) << Log();
}

TEST_F(SimulatorProgramTest, ViolationsShowInTheExitStatusAndOnStandardError) {
    StartSimulator({"--transfers", "1", "--time-limit-s", "0.3"});
    CLinkClient client(CLinkClient::Family::kA);
    ASSERT_TRUE(client.Open(Link()));
    // The hello with its checksum spoilt.
    const Bytes bad = {0x21, 0x23, 0x41, 0x4F, 0x08, 0x00, 0x44, 0x41, 0x0D};
    ASSERT_TRUE(client.SendRaw(bad));
    EXPECT_EQ(ExitStatus(), 1) << Log();
    EXPECT_NE(Log().find("!! violation 1: frame failed its checks: checksum 0x41, expected 0x40"),
              std::string::npos)
        << Log();
    EXPECT_NE(Log().find("1 violations"), std::string::npos);
}

TEST_F(SimulatorProgramTest, StopSignalEndsCleanlyAndWritesTheFiles) {
    StartSimulator({"--transfers", "1", "--image-out", Path("image.bin")});
    ASSERT_TRUE(LinkExists());
    ASSERT_TRUE(m_simulator.Signal(SIGTERM));
    EXPECT_EQ(ExitStatus(2s), 3) << Log();  // the transfer asked for was not served
    EXPECT_FALSE(LinkExists());
    EXPECT_TRUE(std::filesystem::exists(Path("image.bin")));
    EXPECT_NE(Log().find("ended by stop request"), std::string::npos) << Log();
}

TEST_F(SimulatorProgramTest, TimeLimitEndsTheRun) {
    const auto started = std::chrono::steady_clock::now();
    StartSimulator({"--time-limit-s", "0.2"});
    EXPECT_EQ(ExitStatus(3s), 0) << Log();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_NE(Log().find("ended by time limit"), std::string::npos) << Log();
}

TEST(SimulatorProgramHelpTest, HelpListsEveryOptionAndBadOptionsAreRefused) {
    testing_support::CScratchDirectory scratch;
    CChildProcess help;
    ASSERT_TRUE(help.Start(kProgram, {"--help"}, scratch / "help.txt"));
    const auto status = help.WaitForExit(5s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    const std::string text = tools_test::ReadText(scratch / "help.txt");
    for (const char* option :
         {"--link",         "--device",          "--ready-file",   "--family",
          "--version",      "--no-version",      "--image-out",    "--lines-out",
          "--log",          "--transfers",       "--linger-ms",    "--time-limit-s",
          "--silent-after", "--hangup-after",    "--refuse-block", "--wrong-address",
          "--corrupt-rate", "--drop-rate",       "--seed",         "--noise",
          "--split",        "--answer-delay-ms", "--baud",         "--flash-write-ms",
          "--help"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }

    CChildProcess bad;
    ASSERT_TRUE(bad.Start(kProgram, {"--drop-rate", "2"}));
    const auto badStatus = bad.WaitForExit(5s);
    ASSERT_TRUE(badStatus.has_value());
    EXPECT_TRUE(WIFEXITED(*badStatus) && WEXITSTATUS(*badStatus) == 2);
}

}  // namespace
