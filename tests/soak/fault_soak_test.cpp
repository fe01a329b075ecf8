// The fault soak: hundreds of whole firmware updates, both families, images
// of random size, against the boot-loader simulator misbehaving at random
// (corrupted, dropped, late and split answers, noise, refusals, silence, a
// line that hangs up). Every transfer must end with one event 2 or 3 within
// a bound derived from the answer time-outs, event 2 only with the image
// written whole, and the process must not grow across transfers.
//
// The seed and the count can be changed for longer runs:
//   KESTROVAN_SOAK_SEED=7 KESTROVAN_SOAK_TRANSFERS=2000 soak_tests
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>

#include "mcu_link/engine_events.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "tests/soak/soak_transfer.h"

namespace {

using namespace soak;
using namespace std::chrono_literals;

constexpr std::uint32_t kDefaultSeed = 20240611;
constexpr std::uint32_t kDefaultTransfers = 240;
// Transfers before the resources are first measured: the first of each
// family's largest image, and whatever the libraries set up once.
constexpr std::uint32_t kWarmUpTransfers = 6;
constexpr std::size_t kResidentSlackKib = 2 * 1024;
// After a hang-up the updater waits on a dead line: a tenth of one core at
// most (a spinning receiver takes all of it).
constexpr double kMaxCpuShareAfterHangUp = 0.1;
constexpr std::size_t kMaxReportedFailures = 8;

constexpr std::uint32_t kSucceeded = static_cast<std::uint32_t>(EngineEvent::kUpdateSucceeded);
constexpr std::uint32_t kFailed = static_cast<std::uint32_t>(EngineEvent::kUpdateFailed);

// The resident size grows with the heap under the address and thread
// sanitizers (quarantine, shadow memory): there only descriptors are held to
// account.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

std::uint32_t FromEnvironment(const char* name, std::uint32_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == 0) {
        return fallback;
    }
    return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

struct Tally {
    std::uint32_t transfers = 0;
    std::uint32_t succeeded = 0;
    std::uint32_t failed = 0;
};

// The first transfers: each family's largest image once, without faults, so
// that the heap has seen the biggest buffers before it is measured.
TransferPlan WarmUpPlan(std::mt19937& random, std::uint32_t index) {
    TransferPlan plan = MakeRandomPlan(random, index);
    if (index < 2) {
        plan.family = index == 0 ? Family::kA : Family::kB;
        plan.image = updater_test::Pattern(64 * 1024, index + 1);
        plan.recordBytes = 32;
        plan.recordType = '2';
        plan.base = 0x28000;
        plan.faults = FaultPlan{};
    }
    return plan;
}

class FaultSoakTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClock(&m_clock);
        // The engine's diagnostics would fill the log by the megabyte.
        platform::SetDebugHook([](std::string_view) {});
        m_clock.SetRealPause(1ms);
    }
    void TearDown() override {
        platform::SetDebugHook({});
        platform::SetClock(nullptr);
    }

    updater_test::CPacedTestClock m_clock;
};

TEST_F(FaultSoakTest, EveryTransferEndsOnceWithinItsBoundAndSucceedsOnlyWhole) {
    const std::uint32_t seed = FromEnvironment("KESTROVAN_SOAK_SEED", kDefaultSeed);
    const std::uint32_t transfers = FromEnvironment("KESTROVAN_SOAK_TRANSFERS", kDefaultTransfers);
    std::printf(
        "[ soak     ] seed %u, %u transfers (KESTROVAN_SOAK_SEED, KESTROVAN_SOAK_TRANSFERS)\n",
        seed, transfers);
    std::mt19937 random(seed);

    const auto begun = std::chrono::steady_clock::now();
    const double cpuAtBegin = CpuSeconds();
    std::size_t descriptorsAfterWarmUp = 0;
    std::size_t residentAfterWarmUp = 0;
    std::size_t descriptorsMost = 0;
    Tally total;
    std::map<std::string, Tally> byKind;
    std::map<std::string, Tally> byFamily;
    std::size_t problems = 0;
    double slowestMs = 0;
    std::uint64_t mostClockMs = 0;
    double mostCpuAfterHangUp = 0;
    std::uint64_t ticks = 0;

    for (std::uint32_t index = 0; index < transfers; ++index) {
        if (index == kWarmUpTransfers) {
            descriptorsAfterWarmUp = OpenDescriptors();
            residentAfterWarmUp = ResidentKib();
        }
        const TransferPlan plan = WarmUpPlan(random, index);
        const TransferOutcome outcome = RunTransfer(plan, m_clock);

        // Everything that went wrong with this transfer, in one report.
        std::string wrong;
        const auto check = [&wrong](bool good, const std::string& what) {
            if (!good) {
                wrong += "\n  - " + what;
            }
        };
        check(outcome.started, "the simulator did not start");
        check(outcome.ended, "no event 2 or 3 within " + std::to_string(RealBound(plan).count()) +
                                 " ms real time");
        check(outcome.finalEvents == 1 || !outcome.ended,
              std::to_string(outcome.finalEvents) + " final events");
        check(outcome.otherEnds == 0, "event 4 or 5");
        check(outcome.clockMs <= ClockBoundMs(plan), "took " + std::to_string(outcome.clockMs) +
                                                         " ms on the test clock, bound " +
                                                         std::to_string(ClockBoundMs(plan)));
        check(outcome.finalEvent != kSucceeded || outcome.imageMatches,
              "event 2, but the simulator's image differs from the source");
        const Expected expected = ExpectedOutcome(plan);
        check(expected != Expected::kSuccess || outcome.finalEvent == kSucceeded,
              "expected event 2, got " + std::to_string(outcome.finalEvent));
        check(expected != Expected::kFailure || outcome.finalEvent == kFailed,
              "expected event 3, got " + std::to_string(outcome.finalEvent));
        // The updater writes only whole, well-formed frames in order: the
        // simulator sees no violation, whatever it did itself.
        check(outcome.simulatorStatus == 0,
              "simulator exit status " + std::to_string(outcome.simulatorStatus));
        check(outcome.cpuShareAfterEnd <= kMaxCpuShareAfterHangUp,
              "processor share after the hang-up " + std::to_string(outcome.cpuShareAfterEnd));
        if (!wrong.empty()) {
            ++problems;
            ADD_FAILURE() << Describe(plan) << wrong
                          << (problems <= kMaxReportedFailures
                                  ? "\nsimulator log:\n" + outcome.simulatorLog
                                  : std::string());
        }

        const bool success = outcome.finalEvent == kSucceeded;
        const auto count = [success](Tally& tally) {
            ++tally.transfers;
            ++(success ? tally.succeeded : tally.failed);
        };
        count(total);
        count(byFamily[plan.family == Family::kA ? "family A" : "family B"]);
        for (const std::string& kind : FaultKinds(plan)) {
            count(byKind[kind]);
        }
        slowestMs = std::max(slowestMs, outcome.realMs);
        mostClockMs = std::max(mostClockMs, outcome.clockMs);
        mostCpuAfterHangUp = std::max(mostCpuAfterHangUp, outcome.cpuShareAfterEnd);
        ticks += static_cast<std::uint64_t>(outcome.ticks);
        descriptorsMost = std::max(descriptorsMost, OpenDescriptors());
    }

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    std::printf(
        "[ soak     ] %u transfers in %.1f s (processor %.1f s): %u event 2, %u event 3, "
        "%zu with problems; %llu time-out ticks\n",
        total.transfers, seconds, CpuSeconds() - cpuAtBegin, total.succeeded, total.failed,
        problems, static_cast<unsigned long long>(ticks));
    std::printf(
        "[ soak     ] slowest %.0f ms real, longest %llu ms test clock, "
        "processor share after a hang-up at most %.3f\n",
        slowestMs, static_cast<unsigned long long>(mostClockMs), mostCpuAfterHangUp);
    for (const auto* table : {&byFamily, &byKind}) {
        for (const auto& [name, tally] : *table) {
            std::printf("[ soak     ]   %-18s %4u transfers: %4u event 2, %4u event 3\n",
                        name.c_str(), tally.transfers, tally.succeeded, tally.failed);
        }
    }

    if (transfers > kWarmUpTransfers) {
        const std::size_t descriptors = OpenDescriptors();
        const std::size_t resident = ResidentKib();
        std::printf(
            "[ soak     ] descriptors %zu after warm-up, %zu at the end (most %zu); "
            "resident %zu KiB after warm-up, %zu KiB at the end\n",
            descriptorsAfterWarmUp, descriptors, descriptorsMost, residentAfterWarmUp, resident);
        EXPECT_EQ(descriptors, descriptorsAfterWarmUp);
        if (kResidentSizeMeaningful) {
            EXPECT_LE(resident, residentAfterWarmUp + kResidentSlackKib);
        }
    }
    std::fflush(stdout);
}

}  // namespace
