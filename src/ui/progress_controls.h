#pragma once
// What the work shows in the progress dialog, and the dialog's life around it.
// Every call skips a control the dialog lacks, and all of them work without a
// dialog at all.
#include <windows.h>

#include <cstdint>

// The file bar runs from 0 to this; the total bar from 0 to the entry count.
constexpr uint32_t FILE_BAR_RANGE = 0xFFFF;

// The dialog's controls, fetched once; a null member is skipped.
struct ProgressControls {
    HWND status = nullptr;
    HWND fileBar = nullptr;
    HWND totalBar = nullptr;
};

// The controls of progressDialogHandle: none when there is no dialog.
ProgressControls FetchProgressControls();

// Both bars to 0: the file bar over FILE_BAR_RANGE, the total bar over the entries.
void SetUpProgress(const ProgressControls& controls, uint32_t entryCount);

// The status line "<name>をインストール中", then the file bar back to 0. False,
// with nothing shown, when the status text would not fit its buffer.
bool BeginEntry(const ProgressControls& controls, const char* installName);

// The file bar at `done` of `size` bytes (size > 0); full when done == size.
void SetFileProgress(const ProgressControls& controls, uint32_t done, uint32_t size);

// The total bar at the number of entries completed.
void SetEntriesDone(const ProgressControls& controls, uint32_t entriesDone);

// Creates the dialog IDD_PROGRESS of `instance`, hidden, and keeps it in
// progressDialogHandle; false when it could not be created.
bool CreateProgressDialog(HINSTANCE instance);

// Gives the dialog the program title, centres it on the first monitor of the
// monitor list (EnumerateMonitors first) and shows it with `showCommand`.
void ShowProgressDialog(int showCommand);

// Destroys the dialog unless WM_CLOSE has done so already; no dialog is left.
void DestroyProgressDialog();
