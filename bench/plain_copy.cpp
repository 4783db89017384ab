#include "plain_copy.h"

#include <commctrl.h>

#include <cstdio>
#include <memory>

#include "install/install_paths.h"
#include "io/copy_buffer.h"
#include "io/file_handle.h"
#include "package/package_format.h"
#include "package/package_index.h"
#include "package/running_checksum.h"
#include "ui/message_pump.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

namespace {

constexpr uint32_t FILE_BAR_RANGE = 0xFFFF;

void SetBar(HWND bar, uint32_t position) {
    if (bar) SendMessageA(bar, PBM_SETPOS, position, 0);
}

void SetUpBar(HWND bar, uint32_t high) {
    if (!bar) return;
    SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(high));
    SendMessageA(bar, PBM_SETPOS, 0, 0);
}

void ShowStatus(HWND status, const char* name) {
    if (!status) return;
    char text[MAX_PATH];
    std::snprintf(text, sizeof text, TEXT_INSTALLING_FORMAT, name);
    SetWindowTextA(status, text);
}

struct CopyWork {
    CopyControls controls;
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
        SetBar(work.controls.fileBar, static_cast<uint32_t>(uint64_t{done} * FILE_BAR_RANGE / size));
        PumpMessages();
    }
    return true;
}

bool CopyEntry(FileHandle& image, const PackageIndex& index, uint32_t i, const char* folder,
               const CopyWork& work) {
    const CopyControls& controls = work.controls;
    const char* name = EntryName(index, i);
    ShowStatus(controls.status, name);
    SetBar(controls.fileBar, 0);
    PumpMessages();
    char path[MAX_PATH];
    FileHandle out;
    if (!image.Seek(EntryPosition(index, i)) || !FormatTemporaryPath(path, folder, name) || !out.CreateWrite(path)) {
        return false;
    }
    if (!CopyBytes(image, out, EntrySize(index, i), work)) return false;
    if (work.options.flush && !FlushFileBuffers(out.Native())) return false;
    out.Close();
    SetBar(controls.totalBar, i + 1);
    PumpMessages();
    return true;
}

bool MoveIntoPlace(const char* folder, const char* name) {
    char from[MAX_PATH], to[MAX_PATH];
    return FormatTemporaryPath(from, folder, name) && FormatInstallPath(to, folder, name) &&
           MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

CopyControls ControlsOf(HWND dialog) {
    CopyControls controls;
    if (!dialog) return controls;
    controls.status = GetDlgItem(dialog, IDC_STATUS);
    controls.fileBar = GetDlgItem(dialog, IDC_FILE_PROGRESS);
    controls.totalBar = GetDlgItem(dialog, IDC_TOTAL_PROGRESS);
    return controls;
}

bool PlainCopy(const char* packagePath, const char* folder, const CopyControls& controls, const CopyOptions& options) {
    FileHandle image;
    PackageIndex index;
    if (LoadPackageIndexFromFile(packagePath, image, index) != UPDATE_OK) return false;
    SetUpBar(controls.fileBar, FILE_BAR_RANGE);
    SetUpBar(controls.totalBar, index.count);
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
