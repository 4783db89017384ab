// The packer building a patch next to `cat` writing the same inputs into one
// file, in the same run. Warm cache, best of several runs.
//   pack_bench BENCH_FOLDER [REPETITIONS]
// Inputs: BENCH_FOLDER/updater.exe as the stub and every file of
// BENCH_FOLDER/data in name order; outputs go to BENCH_FOLDER/pack. The packer
// is found in the build's bin folder beside this program's folder.
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

constexpr int DEFAULT_REPETITIONS = 7;
constexpr int WHAT_WIDTH = 44;

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

// Runs `argv` with its output into `outputPath` (or nowhere) and waits; true on exit code 0.
bool Run(const std::vector<std::string>& arguments, const char* outputPath) {
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

double Seconds(const std::vector<std::string>& command, const char* outputPath, const std::string& removeFirst) {
    unlink(removeFirst.c_str());
    const auto start = std::chrono::steady_clock::now();
    if (!Run(command, outputPath)) return -1;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count();
}

std::string OwnFolder() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    const std::string self(path, static_cast<size_t>(length));
    return self.substr(0, self.find_last_of('/'));
}

void Row(const char* what, double bytes, double seconds, const char* note) {
    std::printf("%-*s %8.2f GB/s  %.3f s for %.1f MB, %s\n", WHAT_WIDTH, what, bytes / seconds / 1e9, seconds,
                bytes / 1e6, note);
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : DEFAULT_REPETITIONS;
    if (argc < 2 || repetitions < 1) {
        std::fprintf(stderr, "usage: pack_bench BENCH_FOLDER [REPETITIONS]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string packer = OwnFolder() + "/../bin/sundrift-pack";
    const std::string stub = folder + "/updater.exe";
    const std::vector<std::string> inputs = FilesOf(folder + "/data");
    const std::string out = folder + "/pack";
    mkdir(out.c_str(), 0755);
    const std::string patch = out + "/patch.exe", joined = out + "/cat.out";
    if (inputs.empty()) {
        std::fprintf(stderr, "pack_bench: no inputs in %s/data\n", folder.c_str());
        return 1;
    }

    std::vector<std::string> pack = {packer, "build", "--stub", stub, "--out", patch};
    std::vector<std::string> cat = {"cat", stub};
    double bytes = 0;
    for (const std::string& input : inputs) {
        pack.push_back(input);
        cat.push_back(input);
        bytes += FileBytes(input);
    }
    double bestPack = -1, bestCat = -1;
    // One more than counted: the first of each warms the cache.
    for (int i = 0; i <= repetitions; ++i) {
        const double packed = Seconds(pack, "/dev/null", patch);
        const double catted = Seconds(cat, joined.c_str(), joined);
        if (packed < 0 || catted < 0) {
            std::fprintf(stderr, "pack_bench: %s failed\n", packed < 0 ? "the packer" : "cat");
            return 1;
        }
        if (i == 0) continue;
        if (bestPack < 0 || packed < bestPack) bestPack = packed;
        if (bestCat < 0 || catted < bestCat) bestCat = catted;
    }
    unlink(patch.c_str());
    unlink(joined.c_str());

    char note[64];
    std::snprintf(note, sizeof note, "%zu inputs, best of %d", inputs.size(), repetitions);
    std::printf("# %-*s %8s\n", WHAT_WIDTH - 2, "what", "figure");
    Row("pack: sundrift-pack build", bytes, bestPack, note);
    Row("pack: cat of the stub and inputs", bytes, bestCat, note);
    std::printf("%-*s %8.2f x     time of the packer / cat\n", WHAT_WIDTH, "pack: sundrift-pack / cat", bestPack / bestCat);
    return 0;
}
