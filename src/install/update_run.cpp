#include "install/update_run.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "install/commit_pass.h"
#include "install/install_paths.h"
#include "install/link_guard.h"
#include "io/copy_buffer.h"
#include "io/file_handle.h"
#include "package/hash_value_list.h"
#include "package/install_names.h"
#include "package/lower_case.h"
#include "package/package_index.h"
#include "package/running_checksum.h"
#include "ui/message_pump.h"
#include "ui/progress_dialog.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

namespace {

// The file bar runs from 0 to this; the total bar from 0 to the entry count.
constexpr uint32_t FILE_BAR_RANGE = 0xFFFF;

struct Controls {
    HWND status = nullptr;
    HWND fileBar = nullptr;
    HWND totalBar = nullptr;
};

// Everything one run owns; released when it goes out of scope, the own file included.
struct RunState {
    const char* installFolder = nullptr;
    Controls controls;
    FileHandle image;
    PackageIndex index;
    HashValueList list;
    // count + 1 slots, the last always null; each points into `index` or `list`.
    std::unique_ptr<const char*[]> installNames;
    CopyBuffer copyBuffer;
    // The temporary files this run created; only these are ever deleted.
    bool temporaryCreated[PACKAGE_MAX_ENTRIES] = {};
    FileIdentity temporaryIdentity[PACKAGE_MAX_ENTRIES];
    char work[MAX_PATH] = {};
    uint32_t entriesDone = 0;
    UpdateResult result = UPDATE_E_CORRUPT;
};

bool StopRequested() { return abortRequested || cancelRequested; }

// Drains the queue; a WM_QUIT taken from it becomes the abort flag. False then.
bool PumpAndNoteQuit() {
    if (PumpMessages() == 0) return true;
    abortRequested = 1;
    return false;
}

void FetchControls(Controls& controls) {
    controls.status = GetDlgItem(progressDialogHandle, IDC_STATUS);
    controls.fileBar = GetDlgItem(progressDialogHandle, IDC_FILE_PROGRESS);
    controls.totalBar = GetDlgItem(progressDialogHandle, IDC_TOTAL_PROGRESS);
}

void SetBar(HWND bar, uint32_t position) {
    if (bar) SendMessageA(bar, PBM_SETPOS, position, 0);
}

void SetUpBar(HWND bar, uint32_t high) {
    if (!bar) return;
    SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(high));
    SendMessageA(bar, PBM_SETPOS, 0, 0);
}

// The product needs 64 bits as soon as an entry exceeds 64 KiB; the last chunk gives the full range.
uint32_t FileBarPosition(uint32_t done, uint32_t size) {
    return static_cast<uint32_t>(uint64_t{done} * FILE_BAR_RANGE / size);
}

// Memory for the run, the package's list, the progress set-up and the first pump.
// False when memory ran out; nothing has been created in the folder by then.
bool PrepareRun(RunState& run) {
    run.installNames.reset(new (std::nothrow) const char*[run.index.count + 1]());
    if (!run.installNames) return false;
    if (!LoadHashValueList(run.index, run.image, run.list)) return false;
    SetUpBar(run.controls.fileBar, FILE_BAR_RANGE);
    SetUpBar(run.controls.totalBar, run.index.count);
    PumpAndNoteQuit();  // a WM_QUIT here ends the pass at its first test
    run.copyBuffer = AllocateCopyBuffer();
    return run.copyBuffer != nullptr;
}

// A name the run refuses, or one an earlier entry already uses: two entries
// installed over one file would overwrite each other's temporary file and
// fail half-way through the commit.
bool AcceptableInstallName(const RunState& run, uint32_t recorded, const char* name) {
    int sameNameAs;
    return JudgeInstallName(name, run.installNames.get(), recorded, ANSI_NAME_RULES, sameNameAs) == NAME_ACCEPTED;
}

bool ShowStatus(RunState& run, const char* installName) {
    if (!run.controls.status) return true;
    const int length = std::snprintf(run.work, sizeof run.work, TEXT_INSTALLING_FORMAT, installName);
    if (length < 0 || length >= static_cast<int>(sizeof run.work)) return false;
    SetWindowTextA(run.controls.status, run.work);
    return true;
}

// A folder on the way that is a link or junction would carry the file elsewhere.
bool CreateTemporaryFile(RunState& run, uint32_t i, const char* installName, FileHandle& temporary) {
    if (PassesThroughLinkedFolder(run.installFolder, installName) ||
        !FormatTemporaryPath(run.work, run.installFolder, installName) ||
        !CreateFreshFile(temporary, run.work, run.temporaryIdentity[i])) {
        return false;
    }
    run.temporaryCreated[i] = true;
    return true;
}

// Copies `size` bytes from the image's position into `temporary`, feeding the
// checksum before each chunk is written. False when a read or write came short
// (the result is set); a stop request only ends the copy early.
bool CopyEntry(RunState& run, uint32_t size, FileHandle& temporary, RunningChecksum& checksum) {
    uint8_t* buffer = run.copyBuffer.get();
    uint32_t done = 0;
    while (done < size) {
        if (StopRequested()) return true;
        const uint32_t chunk = size - done < COPY_CHUNK_SIZE ? size - done : COPY_CHUNK_SIZE;
        if (run.image.Read(buffer, chunk) != chunk) {
            run.result = UPDATE_E_CORRUPT;
            return false;
        }
        Update(checksum, buffer, chunk);
        if (temporary.Write(buffer, chunk) != chunk) {
            run.result = UPDATE_E_IO;
            return false;
        }
        done += chunk;
        SetBar(run.controls.fileBar, FileBarPosition(done, size));
        if (!PumpAndNoteQuit()) return true;
    }
    return true;
}

// Entry i to its temporary file, verified where a record covers it.
// True when the entry is done and the pass may go on.
bool ExtractEntry(RunState& run, uint32_t i) {
    if (!run.image.Seek(EntryPosition(run.index, i))) {
        run.result = UPDATE_E_CORRUPT;
        return false;
    }
    const RecordMatch match = LookUpRecord(run.list, EntryName(run.index, i));
    // A refused name is never recorded, so neither the commit nor the cleanup
    // can reach another file through it, and nothing is opened by it.
    if (!AcceptableInstallName(run, i, match.installName)) {
        run.result = UPDATE_E_CORRUPT;
        return false;
    }
    run.installNames[i] = match.installName;
    if (!ShowStatus(run, match.installName)) {
        run.result = UPDATE_E_IO;
        return false;
    }
    SetBar(run.controls.fileBar, 0);
    if (!PumpAndNoteQuit()) return false;

    FileHandle temporary;
    if (!CreateTemporaryFile(run, i, match.installName, temporary)) {
        run.result = UPDATE_E_IO;
        return false;
    }
    RunningChecksum checksum;
    ResetChecksum(checksum);
    const bool copied = CopyEntry(run, EntrySize(run.index, i), temporary, checksum);
    // A file renamed into place before its data reach the disk can come back
    // after a power cut at its full size, filled with zeros: the commit renames
    // flushed files only.
    const bool flushed = copied && !StopRequested() && FlushFileBuffers(temporary.Native()) != FALSE;
    temporary.Close();
    if (StopRequested() || !copied) return false;
    if (!flushed) {
        run.result = UPDATE_E_IO;
        return false;
    }
    if (match.checksum && !ChecksumEquals(checksum, match.checksum)) {
        run.result = UPDATE_E_CORRUPT;
        return false;
    }
    SetBar(run.controls.totalBar, i + 1);
    return PumpAndNoteQuit();
}

void ExtractionPass(RunState& run) {
    while (run.entriesDone < run.index.count) {
        if (StopRequested()) return;
        if (!ExtractEntry(run, run.entriesDone)) return;
        ++run.entriesDone;
    }
}

bool CommitAllowed(const RunState& run) {
    return run.entriesDone == run.index.count && !StopRequested();
}

// The temporary path of every recorded name; after a full commit none is left.
// A file this run created is deleted only while it is still that file; any
// other name there (a stale file of an earlier run, a planted link) is removed
// as a name, as deleting it could delete what it points to.
void DeleteTemporaryFiles(const RunState& run) {
    if (!run.installNames) return;
    for (uint32_t j = 0; j < run.index.count; ++j) {
        const char* name = run.installNames[j];
        char path[MAX_PATH];
        if (!name || !FormatTemporaryPath(path, run.installFolder, name)) continue;
        if (run.temporaryCreated[j]) {
            DeleteOwnFile(path, run.temporaryIdentity[j]);
        } else if (!PassesThroughLinkedFolder(run.installFolder, name) &&
                   GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
            RemoveName(path);
        }
    }
}

void ExtractCommitAndClean(RunState& run) {
    if (PrepareRun(run)) {
        ExtractionPass(run);
        run.copyBuffer.reset();
        if (CommitAllowed(run)) run.result = CommitPass(run.installFolder, run.installNames.get(), run.index.count);
    } else {
        run.result = UPDATE_E_IO;
    }
    DeleteTemporaryFiles(run);
}

// A cancel wins over a close or WM_QUIT, which wins over everything else.
UpdateResult ComposeResult(UpdateResult result) {
    if (abortRequested) result = UPDATE_E_ABORTED;
    if (cancelRequested) result = UPDATE_E_CANCELLED;
    return result;
}

// `packagePath` null: the running executable.
UpdateResult Run(const char* packagePath, const char* installFolder) {
    UpdateResult result;
    {
        RunState run;
        run.installFolder = installFolder;
        FetchControls(run.controls);
        const UpdateResult loaded = packagePath ? LoadPackageIndexFromFile(packagePath, run.image, run.index)
                                                : LoadPackageIndex(run.image, run.index);
        if (loaded == UPDATE_OK) {
            ExtractCommitAndClean(run);
        } else {
            run.result = loaded;
        }
        result = run.result;
    }
    return ComposeResult(result);
}

}  // namespace

UpdateResult UpdateRun(const char* installFolder) {
    return Run(nullptr, installFolder);
}

UpdateResult UpdateRunFromPackage(const char* packagePath, const char* installFolder) {
    return Run(packagePath, installFolder);
}
