// Which message, in which box, each result of the run gets.
#include "entry/outcome.h"

#include <gtest/gtest.h>

#include "ui/portable/texts.h"

namespace {

TEST(Outcome, ResultsWithAMessage) {
    struct Case {
        UpdateResult result;
        const char* text;
        void (*show)(const char*);
    };
    const Case cases[] = {
        {UPDATE_OK, TEXT_SUCCESS, ShowInformation},
        {UPDATE_E_CORRUPT, TEXT_DAMAGED_PACKAGE, ShowWarning},
        {UPDATE_E_TOO_MANY_ENTRIES, TEXT_DAMAGED_PACKAGE, ShowWarning},
        {0x80000003, TEXT_DAMAGED_PACKAGE, ShowWarning},
        {UPDATE_E_IO, TEXT_OTHER_FAILURE, ShowWarning},
        {UPDATE_E_UNINSTALL_LIST, TEXT_UNINSTALL_LIST_FAILURE, ShowWarning},
    };
    for (const Case& c : cases) {
        const Outcome outcome = OutcomeOf(c.result);
        ASSERT_NE(outcome.text, nullptr) << std::hex << c.result;
        EXPECT_STREQ(outcome.text, c.text) << std::hex << c.result;
        EXPECT_EQ(outcome.show, c.show) << std::hex << c.result;
    }
}

TEST(Outcome, CancelCloseAndUnknownValuesShowNothing) {
    const UpdateResult silent[] = {UPDATE_E_CANCELLED, UPDATE_E_ABORTED, 0x80000000, 0x80000008,
                                   1,                  0x7FFFFFFF,       0xFFFFFFFF};
    for (UpdateResult result : silent) EXPECT_EQ(OutcomeOf(result).text, nullptr) << std::hex << result;
}

}  // namespace
