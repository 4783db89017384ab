#pragma once
// Counts of a reliability test: cases run, cases that kept every promise, cases
// that lost or damaged data. They go into the test's XML report as properties,
// where scripts/reliability-report reads them, and to the console.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace testing_support {

// True when the long variants were asked for (scripts/test --long).
inline bool LongRun() {
    const char* value = std::getenv("SUNDRIFT_LONG");
    return value != nullptr && value[0] != '\0' && value[0] != '0';
}

// The seed of a seeded test: SUNDRIFT_SEED when given (decimal or 0x hex), else the fixed default.
inline uint32_t TestSeed(uint32_t fallback) {
    const char* value = std::getenv("SUNDRIFT_SEED");
    if (value == nullptr || value[0] == '\0') return fallback;
    return static_cast<uint32_t>(std::strtoul(value, nullptr, 0));
}

struct ReliabilityTally {
    explicit ReliabilityTally(std::string category) : category(std::move(category)) {}

    void Survived() { ++run, ++survived; }
    void Lost() { ++run, ++lost; }
    void Outcome(const std::string& name) { ++outcomes[name]; }

    // Writes the counts; call once, at the end of the test.
    void Report(uint32_t seed, const std::string& note = "") const {
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
        std::printf("reliability: %s: %u run, %u survived, %u lost (seed %u) %s %s\n", category.c_str(), run,
                    survived, lost, seed, outcomeText.c_str(), note.c_str());
        std::fflush(stdout);
    }

    std::string category;
    uint32_t run = 0;
    uint32_t survived = 0;
    uint32_t lost = 0;
    std::map<std::string, uint32_t> outcomes;
};

}  // namespace testing_support
