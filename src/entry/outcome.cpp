#include "entry/outcome.h"

#include "entry/portable/outcome_text.h"
#include "ui/portable/texts.h"

namespace {

// No is the default button.
constexpr UINT CONSENT_FLAGS = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;

}  // namespace

void ShowInformation(const char* text) { MessageBoxA(nullptr, text, TEXT_PROGRAM_TITLE, MB_OK | MB_ICONINFORMATION); }

void ShowWarning(const char* text) { MessageBoxA(nullptr, text, TEXT_PROGRAM_TITLE, MB_OK | MB_ICONWARNING); }

bool AskConsent() { return MessageBoxA(nullptr, TEXT_CONSENT, TEXT_PROGRAM_TITLE, CONSENT_FLAGS) == IDYES; }

Outcome OutcomeOf(UpdateResult result) {
    const char* text = OutcomeText(result);
    if (!text) return {nullptr, nullptr};
    return {text, OutcomeIsWarning(result) ? ShowWarning : ShowInformation};
}

void ReportOutcome(UpdateResult result) {
    const Outcome outcome = OutcomeOf(result);
    if (outcome.text) outcome.show(outcome.text);
}
