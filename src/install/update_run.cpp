#include "install/update_run.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "install/commit_pass.h"
#include "install/install_paths.h"
#include "install/link_guard.h"
#include "io/copy_buffer.h"
#include "io/file_handle.h"
#include "package/hash_value_list.h"
#include "package/lower_case.h"
#include "package/package_index.h"
#include "package/portable/install_names.h"
#include "package/portable/running_checksum.h"
#include "ui/message_pump.h"
#include "ui/progress_controls.h"
#include "ui/progress_dialog.h"

namespace {

// Everything one run owns; released when it goes out of scope, the own file included.
struct RunState {
    const char* installFolder = nullptr;
    ProgressControls controls;
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
};

bool StopRequested() { return abortRequested || cancelRequested; }

// What a stop request makes of the run: a cancel wins over a close or WM_QUIT.
UpdateResult StopResult() { return cancelRequested ? UPDATE_E_CANCELLED : UPDATE_E_ABORTED; }

// Drains the queue; a WM_QUIT taken from it becomes the abort flag. False then.
bool PumpAndNoteQuit() {
    if (PumpMessages() == 0) return true;
    abortRequested = 1;
    return false;
}

// Memory for the run, the package's list, the progress set-up and the first pump.
// A damaged list or memory that ran out ends the run before anything is
// created in the folder.
UpdateResult PrepareRun(RunState& run) {
    run.installNames.reset(new (std::nothrow) const char*[run.index.count + 1]());
    if (!run.installNames) return UPDATE_E_IO;
    const UpdateResult list = LoadHashValueList(run.index, run.image, run.list);
    if (list != UPDATE_OK) return list;
    SetUpProgress(run.controls, run.index.count);
    PumpAndNoteQuit();  // a WM_QUIT here ends the pass at its first test
    run.copyBuffer = AllocateCopyBuffer();
    return run.copyBuffer ? UPDATE_OK : UPDATE_E_IO;
}

// A name the run refuses, or one an earlier entry already uses: two entries
// installed over one file would overwrite each other's temporary file and
// fail half-way through the commit.
bool AcceptableInstallName(const RunState& run, uint32_t recorded, const char* name) {
    int sameNameAs;
    return JudgeInstallName(name, run.installNames.get(), recorded, ANSI_NAME_RULES, sameNameAs) == NAME_ACCEPTED;
}

// A name Windows refuses in file names gets no temporary file, whatever the
// file system would make of it; a folder on the way that is a link or
// junction would carry the file elsewhere.
bool CreateTemporaryFile(RunState& run, uint32_t i, const char* installName, FileHandle& temporary) {
    if (HoldsUnusableCharacter(installName, ANSI_NAME_RULES.isLeadByte) ||
        PassesThroughLinkedFolder(run.installFolder, installName) ||
        !FormatTemporaryPath(run.work, run.installFolder, installName) ||
        !CreateFreshFile(temporary, run.work, run.temporaryIdentity[i])) {
        return false;
    }
    run.temporaryCreated[i] = true;
    return true;
}

// Copies `size` bytes from the image's position into `temporary`, feeding the
// checksum before each chunk is written. A short read is a damaged package, a
// short write an I/O failure; a stop request ends the copy early.
UpdateResult CopyEntry(RunState& run, uint32_t size, FileHandle& temporary, RunningChecksum& checksum) {
    uint8_t* buffer = run.copyBuffer.get();
    uint32_t done = 0;
    while (done < size) {
        if (StopRequested()) return StopResult();
        const uint32_t chunk = size - done < COPY_CHUNK_SIZE ? size - done : COPY_CHUNK_SIZE;
        if (run.image.Read(buffer, chunk) != chunk) return UPDATE_E_CORRUPT;
        Update(checksum, buffer, chunk);
        if (temporary.Write(buffer, chunk) != chunk) return UPDATE_E_IO;
        done += chunk;
        SetFileProgress(run.controls, done, size);
        if (!PumpAndNoteQuit()) return StopResult();
    }
    return UPDATE_OK;
}

// Entry i to its temporary file, verified where a record covers it.
// UPDATE_OK when the entry is done and the pass may go on.
UpdateResult ExtractEntry(RunState& run, uint32_t i) {
    if (!run.image.Seek(EntryPosition(run.index, i))) return UPDATE_E_CORRUPT;
    const RecordMatch match = LookUpRecord(run.list, EntryName(run.index, i));
    // A refused name is never recorded, so neither the commit nor the cleanup
    // can reach another file through it, and nothing is opened by it.
    if (!AcceptableInstallName(run, i, match.installName)) return UPDATE_E_CORRUPT;
    run.installNames[i] = match.installName;
    if (!BeginEntry(run.controls, match.installName)) return UPDATE_E_IO;
    if (!PumpAndNoteQuit()) return StopResult();

    FileHandle temporary;
    if (!CreateTemporaryFile(run, i, match.installName, temporary)) return UPDATE_E_IO;
    RunningChecksum checksum;
    ResetChecksum(checksum);
    const UpdateResult copied = CopyEntry(run, EntrySize(run.index, i), temporary, checksum);
    // A file renamed into place before its data reach the disk can come back
    // after a power cut at its full size, filled with zeros: the commit renames
    // flushed files only.
    const bool flushed = copied == UPDATE_OK && !StopRequested() && FlushFileBuffers(temporary.Native()) != FALSE;
    temporary.Close();
    if (copied != UPDATE_OK) return copied;
    if (StopRequested()) return StopResult();
    if (!flushed) return UPDATE_E_IO;
    if (match.checksum && !ChecksumEquals(checksum, match.checksum)) return UPDATE_E_CORRUPT;
    SetEntriesDone(run.controls, i + 1);
    return PumpAndNoteQuit() ? UPDATE_OK : StopResult();
}

UpdateResult ExtractionPass(RunState& run) {
    while (run.entriesDone < run.index.count) {
        if (StopRequested()) return StopResult();
        const UpdateResult entry = ExtractEntry(run, run.entriesDone);
        if (entry != UPDATE_OK) return entry;
        ++run.entriesDone;
    }
    return UPDATE_OK;
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

UpdateResult ExtractCommitAndClean(RunState& run) {
    bool everyFileMoved = false;
    UpdateResult result = PrepareRun(run);
    if (result == UPDATE_OK) {
        result = ExtractionPass(run);
        run.copyBuffer.reset();
        if (result == UPDATE_OK && CommitAllowed(run)) {
            result = CommitPass(run.installFolder, run.installNames.get(), run.index.count);
            everyFileMoved = result != UPDATE_E_IO;
        }
    }
    // Once every file is in place no temporary name is ours: whatever stands
    // there now (even an installed file moved back) is left alone.
    if (!everyFileMoved) DeleteTemporaryFiles(run);
    return result;
}

// `packagePath` null: the running executable.
UpdateResult Run(const char* packagePath, const char* installFolder) {
    UpdateResult result;
    RememberFolderPaths(true);
    {
        RunState run;
        run.installFolder = installFolder;
        run.controls = FetchProgressControls();
        result = packagePath ? LoadPackageIndexFromFile(packagePath, run.image, run.index)
                             : LoadPackageIndex(run.image, run.index);
        if (result == UPDATE_OK) result = ExtractCommitAndClean(run);
    }
    RememberFolderPaths(false);
    // A stop request seen at any time overrides every other outcome.
    return StopRequested() ? StopResult() : result;
}

}  // namespace

UpdateResult UpdateRun(const char* installFolder) {
    return Run(nullptr, installFolder);
}

UpdateResult UpdateRunFromPackage(const char* packagePath, const char* installFolder) {
    return Run(packagePath, installFolder);
}
