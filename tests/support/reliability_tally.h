#pragma once
// Counts of a reliability test: cases run, cases that kept every promise, cases
// that lost or damaged data. They go into the test's XML report as properties,
// where scripts/reliability-report reads them, and to the console.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace testing_support {

// True when the long variants were asked for (scripts/test --long).
bool LongRun();

// The seed of a seeded test: SUNDRIFT_SEED when given (decimal or 0x hex), else the fixed default.
uint32_t TestSeed(uint32_t fallback);

struct ReliabilityTally {
    explicit ReliabilityTally(std::string category) : category(std::move(category)) {}

    void Survived() { ++run, ++survived; }
    void Lost() { ++run, ++lost; }
    void Outcome(const std::string& name) { ++outcomes[name]; }
    // A case that kept its promise or not, and how it ended.
    void Count(bool kept, const std::string& outcome) {
        kept ? Survived() : Lost();
        Outcome(outcome);
    }

    // Writes the counts; call once, at the end of the test.
    void Report(uint32_t seed, const std::string& note = "") const;

    std::string category;
    uint32_t run = 0;
    uint32_t survived = 0;
    uint32_t lost = 0;
    std::map<std::string, uint32_t> outcomes;
};

// Runs cases 0 to `cases` - 1 of a seeded test, or only SUNDRIFT_CASE when
// given: `runCase` says what is wrong with a case, "" when it kept every
// promise. Every case is counted in `tally`, which then reports; the first few
// failures are shown in full with what reruns them (`rerunTail` ends that line).
void RunSeededCases(ReliabilityTally& tally, uint32_t seed, uint32_t cases,
                    const std::function<std::string(uint32_t c)>& runCase, const std::string& rerunTail = "");

}  // namespace testing_support
