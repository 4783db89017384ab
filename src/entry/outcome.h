#pragma once
// The message boxes of the program and the message for each result of the run.
#include <windows.h>

#include "package/portable/update_result.h"

void ShowInformation(const char* text);
void ShowWarning(const char* text);

// The consent question; true only when it was answered Yes.
bool AskConsent();

// The box for a run's result; no text (and no box) for a cancel, a close of the
// dialog, or any value the run does not produce.
struct Outcome {
    const char* text;
    void (*show)(const char* text);  // ShowInformation or ShowWarning
};
Outcome OutcomeOf(UpdateResult result);

// Shows OutcomeOf(result), if it has a text.
void ReportOutcome(UpdateResult result);
