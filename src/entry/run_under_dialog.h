#pragma once
// The progress dialog around one update run, and the run's outcome as a message.
#include <windows.h>

// Creates the dialog IDD_PROGRESS of `instance` (a warning and EXIT_NO_DIALOG,
// before any monitor is looked at, when that fails), places and shows it with
// `showCommand`, runs the update into `installFolder`, destroys the dialog and
// reports the outcome. The run's UpdateResult as the exit code.
int RunUnderDialog(HINSTANCE instance, int showCommand, const char* installFolder);
