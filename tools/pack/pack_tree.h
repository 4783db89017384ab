#pragma once
// The files of a game folder as the packer sees them: relative paths in
// UTF-8 with "/" between folders, and lookups that ignore letter case the way
// Windows does, also where the host file system does not.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct TreeFile {
    std::string path;  // relative, UTF-8, "/" between folders
    uint64_t size = 0;
};

struct Tree {
    std::vector<TreeFile> files;    // sorted by path
    std::set<std::string> folders;  // relative, "/" between folders
    std::vector<std::string> others;  // neither file nor folder (pipes, devices, dangling links), or unexaminable
};

// Walks the folder under `root`. False, with the reason in `error`, when
// `root` is no folder or a folder inside it cannot be read.
bool ReadTree(const std::string& root, Tree& tree, std::string& error);

// `relative` ("/" between folders) under `root`, as the host names it.
std::string JoinPath(const std::string& root, const std::string& relative);

// The comparison key of a relative path: lower-cased as Windows compares names,
// "\" and "/" alike.
std::u32string PathKey(const std::string& utf8Path);

// UNKNOWN: something may stand there, but it cannot be examined (no permission).
enum class Found { NOTHING, FILE, FOLDER, OTHER, UNKNOWN };

// What stands at the relative `path` ("\" or "/" between folders) under
// `root`, each component matched ignoring letter case when no exact match
// exists; `hostPath` receives the path to open.
Found FindInFolder(const std::string& root, const std::string& path, std::string& hostPath);
