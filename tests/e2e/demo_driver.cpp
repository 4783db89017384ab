// Runs a patch for scripts/demo and reports what the user saw.
//   sundrift-demo-driver answer PATCH.exe MARKER REPORT
//       answers Yes to the question and OK to the outcome; writes "X Y WIDTH HEIGHT"
//       of the progress dialog into MARKER as soon as it shows, for a screenshot
//   sundrift-demo-driver watch PATCH.exe REPORT
//       leaves every box to the user
// REPORT receives the full exit code, then each box's text (Shift-JIS), one a line.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "support/window_watch.h"
#include "ui/portable/texts.h"

namespace {

constexpr DWORD ANSWER_TIMEOUT_MS = 10 * 60 * 1000;
constexpr DWORD WATCH_TIMEOUT_MS = 60 * 60 * 1000;

bool WriteMarker(const char* path, const RECT& r) {
    FILE* out = std::fopen(path, "w");
    if (!out) return false;
    std::fprintf(out, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return std::fclose(out) == 0;
}

bool WriteReport(const char* path, const e2e::RunRecord& run) {
    FILE* out = std::fopen(path, "wb");
    if (!out) return false;
    if (run.finished) {
        std::fprintf(out, "exit 0x%08lX (%ld)\n", run.exitCode, static_cast<long>(run.exitCode));
    } else {
        std::fprintf(out, "exit none: the patch did not end in time\n");
    }
    for (const e2e::SeenWindow& box : run.Boxes()) std::fprintf(out, "box %s\n", box.text.c_str());
    return std::fclose(out) == 0;
}

int Usage() {
    std::fprintf(stderr, "usage: sundrift-demo-driver answer PATCH.exe MARKER REPORT\n"
                         "       sundrift-demo-driver watch PATCH.exe REPORT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "answer") == 0) {
        const char* marker = argv[3];
        const e2e::RunRecord run = e2e::RunProgram(
            argv[2],
            [&](const e2e::SeenWindow& w) {
                if (w.kind == e2e::WindowKind::ProgressDialog) {
                    WriteMarker(marker, w.rect);
                    return e2e::Reply::Wait;
                }
                return w.text == TEXT_CONSENT ? e2e::Reply::Yes : e2e::Reply::Ok;
            },
            ANSWER_TIMEOUT_MS);
        return run.started && WriteReport(argv[4], run) ? 0 : 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "watch") == 0) {
        const e2e::RunRecord run =
            e2e::RunProgram(argv[2], [](const e2e::SeenWindow&) { return e2e::Reply::Wait; }, WATCH_TIMEOUT_MS);
        return run.started && WriteReport(argv[3], run) ? 0 : 1;
    }
    return Usage();
}
