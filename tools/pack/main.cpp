// sundrift-pack: builds patch executables, inspects them, prints checksums.
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pack_build.h"
#include "pack_diff.h"
#include "pack_files.h"
#include "pack_inspect.h"
#include "pack_preview.h"
#include "pack_sign.h"
#include "pack_text.h"
#include "pack_verify.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_BAD_INPUT = 1;
constexpr int EXIT_USAGE = 2;

constexpr char USAGE[] =
    "usage: sundrift-pack build --stub UPDATER.exe --out PATCH.exe (--base-list FILE | --no-base-list)\n"
    "                           [--list-name NAME] [--short-index] [--quiet] FILE[=INSTALL_PATH]...\n"
    "       sundrift-pack diff OLD_DIR NEW_DIR --stub UPDATER.exe --out PATCH.exe\n"
    "                          [--base-list FILE] [--dry-run] [--json]\n"
    "       sundrift-pack preview PATCH.exe GAME_DIR [--json]\n"
    "       sundrift-pack sign PATCH.exe --cert CERT --key KEY [--out SIGNED.exe]\n"
    "                          [--name TEXT] [--ca FILE] [--timestamp URL] [--tool PROGRAM]\n"
    "       sundrift-pack verify GAME_DIR [--strict] [--json]\n"
    "       sundrift-pack inspect PATCH.exe [--json] [--strict]\n"
    "       sundrift-pack checksum FILE...\n"
    "       sundrift-pack --help\n";

constexpr char HELP[] =
    "\n"
    "build     writes UPDATER.exe, zero bytes up to 0x40000 and a package holding\n"
    "          a generated hash-value list (first entry) and each FILE.\n"
    "  --stub FILE        the updater program image: a 32-bit Windows GUI program of\n"
    "                     at most 0x40000 bytes, unsigned (sign the finished patch)\n"
    "  --out FILE         the patch to write; written through a temporary file, and\n"
    "                     never one of the files the patch is made from\n"
    "  --base-list FILE   the game's installed hash-value list (KVX.hvl): records of\n"
    "                     packed files are updated in place, the others kept, new\n"
    "                     ones appended (or put before a record of another file\n"
    "                     of that name, which the updater would take instead).\n"
    "                     Required, since the updater installs the patch's list\n"
    "                     over the game's\n"
    "  --no-base-list     a list of the packed files only: installed, it drops the\n"
    "                     records of every other game file, which are then never\n"
    "                     checked again; for games without a list of their own\n"
    "  --quiet            no summary line after a successful build\n"
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
    "          Reports the signature (certificate table): its offset and size, and\n"
    "          warns when it is not last in the file or bytes follow the last entry.\n"
    "checksum  prints each FILE's checksum (16 hex digits, stored byte order).\n"
    "\n"
    "The publisher's workflow: from the game as shipped (OLD_DIR) and as it should\n"
    "be after the patch (NEW_DIR) to a signed patch checked against an install.\n"
    "diff      packs every file of NEW_DIR that is new or differs from OLD_DIR,\n"
    "          under its path in NEW_DIR; the list is based on OLD_DIR's KVX.hvl\n"
    "          (or --base-list); KVX.hvl and uninst.lst are the updater's own and\n"
    "          never packed. Refuses more files than the index holds, files in\n"
    "          folders OLD_DIR lacks (the updater creates none), and names that\n"
    "          differ only in letter case; files only in OLD_DIR are a warning\n"
    "          (the updater never deletes). --out may be no file of either\n"
    "          version. Also takes --list-name, --short-index.\n"
    "  --dry-run          prints the plan and writes nothing: per file its path,\n"
    "                     size, old and new checksum, and whether its record is\n"
    "                     kept, updated or added; then the totals\n"
    "preview   says what running PATCH on GAME_DIR would do: each entry's install\n"
    "          name, whether it replaces or adds a file and is verified; the\n"
    "          records the installed list keeps and drops; the lines added to\n"
    "          uninst.lst; the result, its exit code and the player's message.\n"
    "          Exits 0 only when the run would succeed.\n"
    "sign      signs a finished patch with osslsigncode (Authenticode, SHA-256),\n"
    "          so the elevation prompt names the publisher, then verifies it.\n"
    "          Refuses a file that is no patch or is signed already. Nothing may\n"
    "          be appended to a signed patch.\n"
    "  --out FILE         the signed patch (default: PATCH.exe is replaced);\n"
    "                     never CERT, KEY or the --ca file\n"
    "  --name TEXT        the description shown (default: the output's name)\n"
    "  --ca FILE          roots trusted for the check (default: CERT itself)\n"
    "  --timestamp URL    an RFC 3161 time-stamping server, so the signature\n"
    "                     outlives the certificate\n"
    "  --tool PROGRAM     the osslsigncode to run (default: found on PATH)\n"
    "verify    checks every record of GAME_DIR's KVX.hvl against the files: a line\n"
    "          per file that differs or is missing, then a summary. Exits 0 when\n"
    "          every present file matches; a record leaving GAME_DIR and a file\n"
    "          that cannot be examined fail; with --strict missing files too.\n"
    "  --json             the same as JSON (fields: see the README)\n"
    "Long operations show progress on standard error when it is a terminal.\n"
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

// With --json a program reading standard output gets an object there too.
int Failure(const std::string& message, bool json) {
    if (json) std::printf("{\"error\": %s}\n", JsonString(message).c_str());
    return Failure(message);
}

void PrintWarnings(const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings) std::fprintf(stderr, "sundrift-pack: warning: %s\n", warning.c_str());
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

int ShowHelp() {
    std::fputs(USAGE, stdout);
    std::fputs(HELP, stdout);
    return EXIT_OK;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// `COMMAND --help`: the command's usage and its own part of the help, whose
// lines run from one starting with its name to the next one not indented.
int ShowHelp(const std::string& command) {
    const std::string named = "sundrift-pack " + command + " ";
    const char* prefix = "usage: ";
    bool inside = false;
    for (const std::string& line : Lines(USAGE)) {
        if (line.find("sundrift-pack ") != std::string::npos) inside = line.find(named) != std::string::npos;
        if (!inside) continue;
        std::printf("%s%s\n", prefix, line.substr(std::strlen(prefix)).c_str());
        prefix = "       ";
    }
    std::printf("\n");
    inside = false;
    for (const std::string& line : Lines(HELP)) {
        if (line.empty() || line[0] != ' ') inside = line.compare(0, command.size() + 1, command + " ") == 0;
        if (inside) std::printf("%s\n", line.c_str());
    }
    std::printf("\nsundrift-pack --help: every command, the publisher's workflow, the exit status.\n");
    return EXIT_OK;
}

// For the 64-bit test build of the updater, which the tests and benchmarks
// pack where no 32-bit program can run; not in the help, not for patches.
constexpr char TEST_STUB_OPTION[] = "--test-amd64-stub";

int RunBuild(const std::vector<std::string>& args) {
    BuildOptions options;
    bool optionsEnded = false;
    bool noBaseList = false;
    bool quiet = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            options.inputs.push_back(ParseInputArgument(arg));
            continue;
        }
        if (IsHelp(arg)) return ShowHelp("build");
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        bool* flag = arg == "--short-index"    ? &options.shortIndex
                     : arg == "--no-base-list" ? &noBaseList
                     : arg == "--quiet"        ? &quiet
                                               : nullptr;
        if (flag) {
            *flag = true;
            continue;
        }
        if (arg == TEST_STUB_OPTION) {
            options.stubMachine = StubMachine::I386_OR_AMD64;
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
    if (options.baseList.empty() && !noBaseList) {
        return UsageError("build: --base-list is required: name the game's KVX.hvl, or give --no-base-list "
                          "for a list of the packed files only");
    }
    if (!options.baseList.empty() && noBaseList) return UsageError("build: --base-list and --no-base-list together");
    options.progress = !quiet;

    const BuildOutcome outcome = BuildPatch(options);
    PrintWarnings(outcome.warnings);
    if (!outcome.ok) return Failure(outcome.error);
    if (!quiet) {
        std::printf("sundrift-pack: wrote %s: %zu entries (the list and %zu files), %llu bytes\n",
                    options.out.c_str(), outcome.entries, outcome.entries - 1,
                    static_cast<unsigned long long>(outcome.patchBytes));
    }
    return EXIT_OK;
}

int RunInspect(const std::vector<std::string>& args) {
    std::string patch;
    bool json = false;
    bool strict = false;
    for (const std::string& arg : args) {
        if (IsHelp(arg)) return ShowHelp("inspect");
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
    if (!InspectPatch(patch, inspection, error, true)) return Failure("inspect: " + error, json);
    PrintInspection(inspection, json, stdout);
    if (!inspection.problems.empty()) return EXIT_BAD_INPUT;
    return strict && !inspection.warnings.empty() ? EXIT_USAGE : EXIT_OK;
}

int RunChecksum(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            files.push_back(arg);
        } else if (IsHelp(arg)) {
            return ShowHelp("checksum");
        } else if (arg == "--") {
            optionsEnded = true;
        } else {
            return UsageError("checksum: unknown option " + arg);
        }
    }
    if (files.empty()) return UsageError("checksum: no files named");
    int status = EXIT_OK;
    for (const std::string& file : files) {
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

// The arguments of one command: options that take a value, flags, and the rest.
struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    bool help = false;
    std::string error;  // a usage error

    bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
    std::string Value(const std::string& option) const {
        const auto found = values.find(option);
        return found == values.end() ? "" : found->second;
    }
};

Arguments ParseArguments(const std::string& command, const std::vector<std::string>& args,
                         const std::set<std::string>& valueOptions, const std::set<std::string>& flagOptions) {
    Arguments parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size() && parsed.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            parsed.positional.push_back(arg);
        } else if (IsHelp(arg)) {
            parsed.help = true;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (flagOptions.count(arg)) {
            parsed.flags.insert(arg);
        } else if (!valueOptions.count(arg)) {
            parsed.error = command + ": unknown option " + arg;
        } else if (i + 1 >= args.size()) {
            parsed.error = command + ": " + arg + " needs a value";
        } else {
            parsed.values[arg] = args[++i];
        }
    }
    return parsed;
}

int RunDiff(const std::vector<std::string>& args) {
    const Arguments parsed = ParseArguments("diff", args, {"--stub", "--out", "--base-list", "--list-name"},
                                            {"--dry-run", "--json", "--short-index", "--quiet", TEST_STUB_OPTION});
    if (parsed.help) return ShowHelp("diff");
    if (!parsed.error.empty()) return UsageError(parsed.error);
    if (parsed.positional.size() != 2) return UsageError("diff: name the old and the new folder");
    DiffOptions options;
    options.oldDir = parsed.positional[0];
    options.newDir = parsed.positional[1];
    options.baseList = parsed.Value("--base-list");
    options.dryRun = parsed.Has("--dry-run");
    options.build.stub = parsed.Value("--stub");
    options.build.out = parsed.Value("--out");
    if (parsed.values.count("--list-name")) options.build.listName = parsed.Value("--list-name");
    options.build.shortIndex = parsed.Has("--short-index");
    options.build.progress = !parsed.Has("--quiet");
    if (parsed.Has(TEST_STUB_OPTION)) options.build.stubMachine = StubMachine::I386_OR_AMD64;
    if (options.build.stub.empty()) return UsageError("diff: --stub is required");
    if (options.build.out.empty() && !options.dryRun) return UsageError("diff: --out is required");

    const bool json = parsed.Has("--json");
    DiffPlan plan;
    std::string error;
    if (!PlanDiff(options, plan, error)) return Failure("diff: " + error, json);
    PrintDiffPlan(options, plan, json, stdout);
    if (!json) PrintWarnings(plan.warnings);
    for (const std::string& refusal : plan.refusals) std::fprintf(stderr, "sundrift-pack: diff: %s\n", refusal.c_str());
    return plan.refusals.empty() ? EXIT_OK : EXIT_BAD_INPUT;
}

int RunVerify(const std::vector<std::string>& args) {
    const Arguments parsed = ParseArguments("verify", args, {}, {"--json", "--strict"});
    if (parsed.help) return ShowHelp("verify");
    if (!parsed.error.empty()) return UsageError(parsed.error);
    if (parsed.positional.size() != 1) return UsageError("verify: name one game folder");
    const bool json = parsed.Has("--json");
    Verification verification;
    std::string error;
    if (!VerifyGame(parsed.positional[0], true, verification, error)) return Failure("verify: " + error, json);
    const bool strict = parsed.Has("--strict");
    PrintVerification(verification, json, strict, stdout);
    return VerificationPassed(verification, strict) ? EXIT_OK : EXIT_BAD_INPUT;
}

int RunPreview(const std::vector<std::string>& args) {
    const Arguments parsed = ParseArguments("preview", args, {}, {"--json"});
    if (parsed.help) return ShowHelp("preview");
    if (!parsed.error.empty()) return UsageError(parsed.error);
    if (parsed.positional.size() != 2) return UsageError("preview: name a patch and a game folder");
    const bool json = parsed.Has("--json");
    Preview preview;
    std::string error;
    if (!PreviewPatch(parsed.positional[0], parsed.positional[1], preview, error, true)) {
        return Failure("preview: " + error, json);
    }
    PrintPreview(preview, json, stdout);
    return preview.result == UPDATE_OK ? EXIT_OK : EXIT_BAD_INPUT;
}

int RunSign(const std::vector<std::string>& args) {
    const Arguments parsed =
        ParseArguments("sign", args, {"--cert", "--key", "--out", "--name", "--ca", "--timestamp", "--tool"}, {});
    if (parsed.help) return ShowHelp("sign");
    if (!parsed.error.empty()) return UsageError(parsed.error);
    if (parsed.positional.size() != 1) return UsageError("sign: name one patch");
    SignOptions options;
    options.patch = parsed.positional[0];
    options.cert = parsed.Value("--cert");
    options.key = parsed.Value("--key");
    options.out = parsed.Value("--out");
    options.name = parsed.Value("--name");
    options.caFile = parsed.Value("--ca");
    options.timestamp = parsed.Value("--timestamp");
    if (parsed.values.count("--tool")) options.tool = parsed.Value("--tool");
    if (options.cert.empty() || options.key.empty()) return UsageError("sign: --cert and --key are required");
    std::string error;
    if (!SignPatch(options, error)) return Failure("sign: " + error);
    return EXIT_OK;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty()) return UsageError("no command given");
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (IsHelp(command)) return ShowHelp();
    if (command == "build") return RunBuild(rest);
    if (command == "inspect") return RunInspect(rest);
    if (command == "diff") return RunDiff(rest);
    if (command == "verify") return RunVerify(rest);
    if (command == "sign") return RunSign(rest);
    if (command == "preview") return RunPreview(rest);
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
