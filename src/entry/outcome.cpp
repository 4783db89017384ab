#include "entry/outcome.h"

#include "ui/texts.h"

namespace {

// The last value reported as a damaged package; the run never produces it, but
// it belongs to the same band of package failures.
constexpr UpdateResult DAMAGED_PACKAGE_LAST = 0x80000003;

void ShowBox(const char* text, UINT icon) { MessageBoxA(nullptr, text, TEXT_PROGRAM_TITLE, MB_OK | icon); }

}  // namespace

Outcome OutcomeOf(UpdateResult result) {
    if (result == UPDATE_OK) return {TEXT_SUCCESS, MB_ICONINFORMATION};
    if (result >= UPDATE_E_CORRUPT && result <= DAMAGED_PACKAGE_LAST) return {TEXT_DAMAGED_PACKAGE, MB_ICONWARNING};
    if (result == UPDATE_E_IO) return {TEXT_OTHER_FAILURE, MB_ICONWARNING};
    if (result == UPDATE_E_UNINSTALL_LIST) return {TEXT_UNINSTALL_LIST_FAILURE, MB_ICONWARNING};
    return {nullptr, 0};
}

void ShowInformation(const char* text) { ShowBox(text, MB_ICONINFORMATION); }

void ShowWarning(const char* text) { ShowBox(text, MB_ICONWARNING); }

void ReportOutcome(UpdateResult result) {
    const Outcome outcome = OutcomeOf(result);
    if (outcome.text) ShowBox(outcome.text, outcome.icon);
}
