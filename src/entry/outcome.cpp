#include "entry/outcome.h"

#include "ui/texts.h"

namespace {

// The last value reported as a damaged package; the run never produces it, but
// it belongs to the same band of package failures.
constexpr UpdateResult DAMAGED_PACKAGE_LAST = 0x80000003;

// No is the default button.
constexpr UINT CONSENT_FLAGS = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;

}  // namespace

void ShowInformation(const char* text) { MessageBoxA(nullptr, text, TEXT_PROGRAM_TITLE, MB_OK | MB_ICONINFORMATION); }

void ShowWarning(const char* text) { MessageBoxA(nullptr, text, TEXT_PROGRAM_TITLE, MB_OK | MB_ICONWARNING); }

bool AskConsent() { return MessageBoxA(nullptr, TEXT_CONSENT, TEXT_PROGRAM_TITLE, CONSENT_FLAGS) == IDYES; }

Outcome OutcomeOf(UpdateResult result) {
    if (result == UPDATE_OK) return {TEXT_SUCCESS, ShowInformation};
    if (result >= UPDATE_E_CORRUPT && result <= DAMAGED_PACKAGE_LAST) return {TEXT_DAMAGED_PACKAGE, ShowWarning};
    if (result == UPDATE_E_IO) return {TEXT_OTHER_FAILURE, ShowWarning};
    if (result == UPDATE_E_UNINSTALL_LIST) return {TEXT_UNINSTALL_LIST_FAILURE, ShowWarning};
    return {nullptr, nullptr};
}

void ReportOutcome(UpdateResult result) {
    const Outcome outcome = OutcomeOf(result);
    if (outcome.text) outcome.show(outcome.text);
}
