// sundrift-pack: builds patch executables, inspects them, prints checksums.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pack_build.h"
#include "pack_files.h"
#include "pack_inspect.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_BAD_INPUT = 1;
constexpr int EXIT_USAGE = 2;

constexpr char USAGE[] =
    "usage: sundrift-pack build --stub UPDATER.exe --out PATCH.exe [--base-list FILE]\n"
    "                           [--list-name NAME] [--short-index] FILE[=INSTALL_PATH]...\n"
    "       sundrift-pack inspect PATCH.exe [--json] [--strict]\n"
    "       sundrift-pack checksum FILE...\n"
    "       sundrift-pack --help\n";

constexpr char HELP[] =
    "\n"
    "build     writes UPDATER.exe, zero bytes up to 0x40000 and a package holding\n"
    "          a generated hash-value list (first entry) and each FILE.\n"
    "  --stub FILE        the updater program image (at most 0x40000 bytes)\n"
    "  --out FILE         the patch to write; written through a temporary file\n"
    "  --base-list FILE   an existing hash-value list: records of packed files are\n"
    "                     updated in place, the others kept, new ones appended\n"
    "  --list-name NAME   name of the list entry (default KVX.hvl)\n"
    "  --short-index      32-byte index entries (names of at most 15 bytes)\n"
    "  FILE=INSTALL_PATH  install FILE under INSTALL_PATH, relative to the game\n"
    "                     folder, \"/\" or \"\\\" between folders (default: the base\n"
    "                     list's path for that name, else FILE's own name); the\n"
    "                     first \"=\" ends FILE. Names are UTF-8, stored as Shift-JIS.\n"
    "inspect   prints the layout, entries, list records and checksums of a patch,\n"
    "          judged by the updater's own rules: \"REJECTED\" and exit 1 exactly\n"
    "          when the updater would end as a damaged package (or with too many\n"
    "          entries) before installing anything; \"warning:\" lines for what it\n"
    "          takes but a publisher would not want (no list, stray bytes, ...).\n"
    "  --json             the same as JSON (fields: see the README)\n"
    "  --strict           exit 2 when an accepted patch has warnings\n"
    "checksum  prints each FILE's checksum (16 hex digits, stored byte order).\n"
    "\n"
    "Exit status: 0 success, 1 bad input or a rejected patch, 2 usage error\n"
    "or warnings under inspect --strict.\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "sundrift-pack: %s\n%s", message.c_str(), USAGE);
    return EXIT_USAGE;
}

int Failure(const std::string& message) {
    std::fprintf(stderr, "sundrift-pack: %s\n", message.c_str());
    return EXIT_BAD_INPUT;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

int ShowHelp() {
    std::fputs(USAGE, stdout);
    std::fputs(HELP, stdout);
    return EXIT_OK;
}

int RunBuild(const std::vector<std::string>& args) {
    BuildOptions options;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            options.inputs.push_back(ParseInputArgument(arg));
            continue;
        }
        if (IsHelp(arg)) return ShowHelp();
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--short-index") {
            options.shortIndex = true;
            continue;
        }
        std::string* value = arg == "--stub"        ? &options.stub
                             : arg == "--out"       ? &options.out
                             : arg == "--base-list" ? &options.baseList
                             : arg == "--list-name" ? &options.listName
                                                    : nullptr;
        if (!value) return UsageError("build: unknown option " + arg);
        if (i + 1 >= args.size()) return UsageError("build: " + arg + " needs a value");
        *value = args[++i];
    }
    if (options.stub.empty()) return UsageError("build: --stub is required");
    if (options.out.empty()) return UsageError("build: --out is required");
    if (options.inputs.empty()) return UsageError("build: no files to pack");
    options.progress = true;

    const BuildOutcome outcome = BuildPatch(options);
    for (const std::string& warning : outcome.warnings) std::fprintf(stderr, "sundrift-pack: warning: %s\n", warning.c_str());
    if (!outcome.ok) return Failure(outcome.error);
    return EXIT_OK;
}

int RunInspect(const std::vector<std::string>& args) {
    std::string patch;
    bool json = false;
    bool strict = false;
    for (const std::string& arg : args) {
        if (IsHelp(arg)) return ShowHelp();
        if (arg == "--json") {
            json = true;
        } else if (arg == "--strict") {
            strict = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return UsageError("inspect: unknown option " + arg);
        } else if (!patch.empty()) {
            return UsageError("inspect: one patch at a time");
        } else {
            patch = arg;
        }
    }
    if (patch.empty()) return UsageError("inspect: no patch named");
    Inspection inspection;
    std::string error;
    if (!InspectPatch(patch, inspection, error)) return Failure(error);
    PrintInspection(inspection, json, stdout);
    if (!inspection.problems.empty()) return EXIT_BAD_INPUT;
    return strict && !inspection.warnings.empty() ? EXIT_USAGE : EXIT_OK;
}

int RunChecksum(const std::vector<std::string>& args) {
    if (args.empty()) return UsageError("checksum: no files named");
    int status = EXIT_OK;
    for (const std::string& file : args) {
        if (IsHelp(file)) return ShowHelp();
        uint8_t checksum[CHECKSUM_SIZE];
        std::string error;
        if (!ChecksumFile(file, checksum, error)) {
            status = Failure(error);
            continue;
        }
        std::printf("%s  %s\n", ChecksumHex(checksum).c_str(), file.c_str());
    }
    return status;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty()) return UsageError("no command given");
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (IsHelp(command)) return ShowHelp();
    if (command == "build") return RunBuild(rest);
    if (command == "inspect") return RunInspect(rest);
    if (command == "checksum") return RunChecksum(rest);
    return UsageError("unknown command " + command);
}

#ifdef _WIN32
// The command line as UTF-8, whatever the ANSI code page.
std::vector<std::string> Utf8Arguments() {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i) {
        const int length = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<size_t>(length > 0 ? length : 1), '\0');
        if (length > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &arg[0], length, nullptr, nullptr);
        arg.resize(std::strlen(arg.c_str()));
        args.push_back(arg);
    }
    LocalFree(wide);
    return args;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    (void)argc;
    (void)argv;
    return Run(Utf8Arguments());
#else
    return Run(std::vector<std::string>(argv + 1, argv + argc));
#endif
}
