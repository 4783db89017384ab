#include "plain_copy.h"

#include <memory>

#include "install/install_paths.h"
#include "io/copy_buffer.h"
#include "io/file_handle.h"
#include "package/package_index.h"
#include "package/portable/package_format.h"
#include "package/portable/running_checksum.h"
#include "ui/message_pump.h"

namespace {

struct CopyWork {
    ProgressControls controls;
    uint8_t* buffer;
    CopyOptions options;
};

bool CopyBytes(FileHandle& image, FileHandle& out, uint32_t size, const CopyWork& work) {
    RunningChecksum state;
    ResetChecksum(state);
    uint32_t done = 0;
    while (done < size) {
        const uint32_t chunk = size - done < COPY_CHUNK_SIZE ? size - done : COPY_CHUNK_SIZE;
        if (image.Read(work.buffer, chunk) != chunk) return false;
        if (work.options.checksum) Update(state, work.buffer, chunk);
        if (out.Write(work.buffer, chunk) != chunk) return false;
        done += chunk;
        SetFileProgress(work.controls, done, size);
        PumpMessages();
    }
    return true;
}

bool CopyEntry(FileHandle& image, const PackageIndex& index, uint32_t i, const char* folder,
               const CopyWork& work) {
    const char* name = EntryName(index, i);
    if (!BeginEntry(work.controls, name)) return false;
    PumpMessages();
    char path[MAX_PATH];
    FileHandle out;
    if (!image.Seek(EntryPosition(index, i)) || !FormatTemporaryPath(path, folder, name) ||
        !(work.options.createNew ? out.CreateNew(path) : out.CreateWrite(path))) {
        return false;
    }
    if (!CopyBytes(image, out, EntrySize(index, i), work)) return false;
    if (work.options.flush && !FlushFileBuffers(out.Native())) return false;
    out.Close();
    SetEntriesDone(work.controls, i + 1);
    PumpMessages();
    return true;
}

bool MoveIntoPlace(const char* folder, const char* name) {
    char from[MAX_PATH], to[MAX_PATH];
    return FormatTemporaryPath(from, folder, name) && FormatInstallPath(to, folder, name) &&
           MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

bool PlainCopy(const char* packagePath, const char* folder, const ProgressControls& controls,
               const CopyOptions& options) {
    FileHandle image;
    PackageIndex index;
    if (LoadPackageIndexFromFile(packagePath, image, index) != UPDATE_OK) return false;
    SetUpProgress(controls, index.count);
    PumpMessages();
    const CopyBuffer buffer = AllocateCopyBuffer();
    if (!buffer) return false;
    const CopyWork work{controls, buffer.get(), options};
    for (uint32_t i = 0; i < index.count; ++i) {
        if (!CopyEntry(image, index, i, folder, work)) return false;
    }
    for (uint32_t i = 0; i < index.count; ++i) {
        if (!MoveIntoPlace(folder, EntryName(index, i))) return false;
    }
    return true;
}
