#pragma once
// The message boxes of the program and the message for each result of the run.
#include <windows.h>

#include "package/update_result.h"

// The box for a run's result; no text (and no box) for a cancel, a close of the
// dialog, or any value the run does not produce.
struct Outcome {
    const char* text;
    UINT icon;  // MB_ICONINFORMATION or MB_ICONWARNING
};
Outcome OutcomeOf(UpdateResult result);

void ShowInformation(const char* text);
void ShowWarning(const char* text);

// Shows OutcomeOf(result), if it has a text.
void ReportOutcome(UpdateResult result);
