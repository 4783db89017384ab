// The packer against `cat` doing the same file work, in the same run:
// `build` against `cat` of the stub and the inputs into one file, `checksum`
// against `cat` of the inputs to /dev/null. Each pair runs in turn (A B A B),
// whole processes timed from start to exit, warm cache; the figures are medians.
//   pack_bench BENCH_FOLDER [--PACKER_OPTION]... SET...
// Inputs: BENCH_FOLDER/updater.exe as the stub and every file of
// BENCH_FOLDER/SET in name order; outputs go to BENCH_FOLDER/pack. Options
// starting with "--" are handed to `build`. The packer is found in the build's
// bin folder beside this program's folder.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int RUNS = 9;
constexpr int WHAT_WIDTH = 44;
constexpr double BUILD_TARGET = 1.15;
constexpr double CHECKSUM_TARGET = 1.75;

using Command = std::vector<std::string>;

std::vector<std::string> FilesOf(const std::string& folder) {
    std::vector<std::string> files;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string path = folder + "/" + entry->d_name;
            struct stat status;
            if (stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) files.push_back(path);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

double FileBytes(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<double>(status.st_size) : 0;
}

// Runs `arguments` with its output into `outputPath` and waits; true on exit code 0.
bool Run(const Command& arguments, const char* outputPath) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        const int out = open(outputPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int none = open("/dev/null", O_WRONLY);
        if (out < 0 || none < 0) _exit(126);
        dup2(out, STDOUT_FILENO);
        dup2(none, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One timed run; `removeFirst` (an output of the last run) is removed untimed.
double Seconds(const Command& command, const char* outputPath, const std::string& removeFirst) {
    if (!removeFirst.empty()) unlink(removeFirst.c_str());
    const auto start = std::chrono::steady_clock::now();
    if (!Run(command, outputPath)) return -1;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Side {
    Command command;
    const char* output;       // where its standard output goes
    std::string removeFirst;  // its output file, removed before each run
};

struct Comparison {
    double a = -1, b = -1, ratio = -1;  // medians: seconds of each, ratio of the pairs
};

// A and B in turn, one untimed pair first to warm the cache.
Comparison Alternate(const Side& a, const Side& b) {
    std::vector<double> as, bs, ratios;
    for (int i = 0; i <= RUNS; ++i) {
        const double ta = Seconds(a.command, a.output, a.removeFirst);
        const double tb = Seconds(b.command, b.output, b.removeFirst);
        if (ta < 0 || tb < 0) {
            std::fprintf(stderr, "pack_bench: %s failed\n", (ta < 0 ? a : b).command[0].c_str());
            return Comparison();
        }
        if (i == 0) continue;
        as.push_back(ta);
        bs.push_back(tb);
        ratios.push_back(ta / tb);
    }
    return {Median(as), Median(bs), Median(ratios)};
}

std::string OwnFolder() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    const std::string self(path, static_cast<size_t>(length));
    return self.substr(0, self.find_last_of('/'));
}

void Rows(const std::string& set, const char* a, const char* b, const char* ratio, double bytes,
          const Comparison& c, double target) {
    char note[96];
    std::snprintf(note, sizeof note, "%.1f MB, median of %d alternated runs", bytes / 1e6, RUNS);
    const std::string prefix = "pack " + set + ": ";
    std::printf("%-*s %8.2f GB/s  %.3f s, %s\n", WHAT_WIDTH, (prefix + a).c_str(), bytes / c.a / 1e9, c.a, note);
    std::printf("%-*s %8.2f GB/s  %.3f s, %s\n", WHAT_WIDTH, (prefix + b).c_str(), bytes / c.b / 1e9, c.b, note);
    std::printf("%-*s %8.2f x     median of the pairs' ratios (target at most %.2f: %s)\n", WHAT_WIDTH,
                (prefix + ratio).c_str(), c.ratio, target, c.ratio <= target ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pack_bench BENCH_FOLDER [--PACKER_OPTION]... SET...\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string packer = OwnFolder() + "/../bin/sundrift-pack";
    const std::string out = folder + "/pack";
    mkdir(out.c_str(), 0755);
    const std::string patch = out + "/patch.exe", joined = out + "/cat.out";
    Command options;
    std::vector<std::string> sets;
    for (int i = 2; i < argc; ++i) (std::string(argv[i]).rfind("--", 0) == 0 ? options : sets).push_back(argv[i]);

    std::printf("# %-*s %8s\n", WHAT_WIDTH - 2, "what", "figure");
    for (const std::string& set : sets) {
        const std::vector<std::string> inputs = FilesOf(folder + "/" + set);
        if (inputs.empty()) {
            std::fprintf(stderr, "pack_bench: no inputs in %s/%s\n", folder.c_str(), set.c_str());
            return 1;
        }
        Command build = {packer, "build", "--quiet", "--no-base-list", "--stub", folder + "/updater.exe", "--out", patch};
        build.insert(build.end(), options.begin(), options.end());
        Command joinedCat = {"cat", folder + "/updater.exe"}, checksum = {packer, "checksum"}, readCat = {"cat"};
        double bytes = 0;
        for (const std::string& input : inputs) {
            for (Command* c : {&build, &joinedCat, &checksum, &readCat}) c->push_back(input);
            bytes += FileBytes(input);
        }
        char label[64];
        std::snprintf(label, sizeof label, "%.0f MB", bytes / 1e6);
        const Comparison built = Alternate({build, "/dev/null", patch}, {joinedCat, joined.c_str(), joined});
        unlink(patch.c_str());
        unlink(joined.c_str());
        const Comparison summed = Alternate({checksum, "/dev/null", ""}, {readCat, "/dev/null", ""});
        if (built.ratio < 0 || summed.ratio < 0) return 1;
        Rows(label, "sundrift-pack build", "cat of the stub and inputs", "build / cat", bytes, built, BUILD_TARGET);
        Rows(label, "sundrift-pack checksum", "cat of the inputs > /dev/null", "checksum / cat", bytes, summed,
             CHECKSUM_TARGET);
    }
    return 0;
}
