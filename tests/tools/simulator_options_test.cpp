#include "tools/bootloader_sim/simulator_options.h"

#include <gtest/gtest.h>

#include "tools/port_owner/port_owner_options.h"

namespace {

// The options that no program-level test passes through the command line.
TEST(SimulatorOptionsTest, ReadsTheOptionsTheProgramTestsLeaveOut) {
    SimulatorOptions options;
    std::string message;
    ASSERT_EQ(ParseSimulatorOptions({"--version", "HX1", "--silent-after", "0", "--linger-ms", "50",
                                     "--answer-delay-ms", "12", "--wrong-address", "7",
                                     "--wrong-address", "2:3", "--device", "/dev/ttyUSB0"},
                                    options, message),
              OptionsVerdict::kRun)
        << message;
    EXPECT_EQ(options.versionText, "HX1");
    EXPECT_EQ(options.silentAfter, 0u);  // answers nothing at all
    EXPECT_EQ(options.lingerMs, 50u);
    EXPECT_EQ(options.answerDelayMs, 12u);
    ASSERT_EQ(options.wrongAddresses.size(), 2u);
    EXPECT_EQ(options.wrongAddresses[0].index, 7u);
    EXPECT_EQ(options.wrongAddresses[0].times, 1u);  // TIMES defaults to 1
    EXPECT_EQ(options.wrongAddresses[1].times, 3u);
    EXPECT_EQ(options.devicePath, "/dev/ttyUSB0");

    ASSERT_EQ(ParseSimulatorOptions({"--no-version"}, options, message), OptionsVerdict::kRun);
    EXPECT_FALSE(options.sendVersion);
    EXPECT_EQ(ParseSimulatorOptions({"--seed", "1", "--help"}, options, message),
              OptionsVerdict::kHelp);
}

TEST(SimulatorOptionsTest, RefusesBadCommandLines) {
    const std::vector<std::vector<std::string>> rows = {
        {"--family", "c"},
        {"--drop-rate", "1.5"},
        {"--corrupt-rate", "-0.1"},
        {"--refuse-block", "3"},  // TIMES is needed
        {"--refuse-block", "3:0"},
        {"--transfers", "0"},
        {"--transfers", "x"},
        {"--baud", "0"},
        {"--hangup-after", "0"},
        {"--version", std::string(201, 'V')},
        {"--time-limit-s", "0"},
        {"--link", "a", "--device", "b"},
        {"--family", "b", "--wrong-address", "1"},
        {"--lines-out", "l.txt"},  // family A has no lines
        {"--log"},
        {"--bogus", "1"},
        {"stray"},
    };
    for (const auto& args : rows) {
        SimulatorOptions options;
        std::string message;
        EXPECT_EQ(ParseSimulatorOptions(args, options, message), OptionsVerdict::kError) << args[0];
        EXPECT_FALSE(message.empty());
    }
}

TEST(PortOwnerOptionsTest, ReadsOptionsAndRefusesBadOnes) {
    PortOwnerOptions options;
    std::string message;
    ASSERT_EQ(ParsePortOwnerOptions({"--device", "/dev/x", "--release-delay-ms", "250",
                                     "--never-release", "--retry-for-ms", "900", "--baud", "19200",
                                     "--log", "o.log", "--ready-file", "r"},
                                    options, message),
              PortOwnerVerdict::kRun);
    EXPECT_EQ(options.devicePath, "/dev/x");
    EXPECT_EQ(options.releaseDelayMs, 250u);
    EXPECT_TRUE(options.neverRelease);
    EXPECT_EQ(options.retryForMs, 900u);
    EXPECT_EQ(options.baud, 19200u);
    EXPECT_EQ(options.logPath, "o.log");
    EXPECT_EQ(options.readyFilePath, "r");

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--release-delay-ms", "soon"},
          std::vector<std::string>{"--baud", "0"}, std::vector<std::string>{"--device"},
          std::vector<std::string>{"--what"}}) {
        PortOwnerOptions other;
        EXPECT_EQ(ParsePortOwnerOptions(args, other, message), PortOwnerVerdict::kError) << args[0];
    }
    EXPECT_EQ(ParsePortOwnerOptions({"--help"}, options, message), PortOwnerVerdict::kHelp);
}

}  // namespace
