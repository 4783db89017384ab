#include "support/reliability_tally.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace testing_support {

// Failure messages printed in full per test; the rest are only counted.
constexpr uint32_t REPORTED_FAILURES = 8;

bool LongRun() {
    const char* value = std::getenv("SUNDRIFT_LONG");
    return value != nullptr && value[0] != '\0' && value[0] != '0';
}

uint32_t TestSeed(uint32_t fallback) {
    const char* value = std::getenv("SUNDRIFT_SEED");
    if (value == nullptr || value[0] == '\0') return fallback;
    return static_cast<uint32_t>(std::strtoul(value, nullptr, 0));
}

void ReliabilityTally::Report(uint32_t seed, const std::string& note) const {
    std::string outcomeText;
    for (const auto& outcome : outcomes) {
        outcomeText += (outcomeText.empty() ? "" : " ") + outcome.first + "=" + std::to_string(outcome.second);
    }
    ::testing::Test::RecordProperty("reliability_category", category);
    ::testing::Test::RecordProperty("reliability_run", std::to_string(run));
    ::testing::Test::RecordProperty("reliability_survived", std::to_string(survived));
    ::testing::Test::RecordProperty("reliability_lost", std::to_string(lost));
    ::testing::Test::RecordProperty("reliability_seed", std::to_string(seed));
    ::testing::Test::RecordProperty("reliability_outcomes", outcomeText);
    if (!note.empty()) ::testing::Test::RecordProperty("reliability_note", note);
    std::printf("reliability: %s: %u run, %u survived, %u lost (seed %u) %s %s\n", category.c_str(), run, survived,
                lost, seed, outcomeText.c_str(), note.c_str());
    std::fflush(stdout);
}

void RunSeededCases(ReliabilityTally& tally, uint32_t seed, uint32_t cases,
                    const std::function<std::string(uint32_t c)>& runCase, const std::string& rerunTail) {
    const char* only = std::getenv("SUNDRIFT_CASE");
    uint32_t reported = 0;
    for (uint32_t c = 0; c < cases; ++c) {
        if (only && std::strtoul(only, nullptr, 0) != c) continue;
        const std::string problems = runCase(c);
        if (problems.empty()) {
            tally.Survived();
            continue;
        }
        tally.Lost();
        if (++reported <= REPORTED_FAILURES) {
            ADD_FAILURE() << problems << "\n  rerun: SUNDRIFT_SEED=" << seed << " SUNDRIFT_CASE=" << c << rerunTail;
        }
    }
    tally.Report(seed, std::to_string(cases) + " cases");
    EXPECT_EQ(tally.lost, 0u) << "seed " << seed;
}

}  // namespace testing_support
