#include "entry/outcome.h"

#include "entry/outcome_text.h"
#include "ui/texts.h"

namespace {

void ShowBox(const char* text, UINT icon) { MessageBoxA(nullptr, text, TEXT_PROGRAM_TITLE, MB_OK | icon); }

}  // namespace

Outcome OutcomeOf(UpdateResult result) {
    const char* text = OutcomeText(result);
    if (!text) return {nullptr, 0};
    return {text, static_cast<UINT>(OutcomeIsWarning(result) ? MB_ICONWARNING : MB_ICONINFORMATION)};
}

void ShowInformation(const char* text) { ShowBox(text, MB_ICONINFORMATION); }

void ShowWarning(const char* text) { ShowBox(text, MB_ICONWARNING); }

void ReportOutcome(UpdateResult result) {
    const Outcome outcome = OutcomeOf(result);
    if (outcome.text) ShowBox(outcome.text, outcome.icon);
}
