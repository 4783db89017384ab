#include "pack_tree.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "pack_files.h"
#include "pack_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#endif

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (!IsSeparator(c)) {
            part += c;
        } else if (!part.empty()) {
            parts.push_back(part);
            part.clear();
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

#ifdef _WIN32
std::string Utf8Of(const wchar_t* wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length > 0 ? length : 1), '\0');
    if (length > 0) WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], length, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::wstring WideOf(const std::string& utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], length);
    out.resize(out.size() - 1);
    return out;
}
#endif

// What stands at `hostPath`, and its size when it is a file.
Found Stat(const std::string& hostPath, uint64_t* size = nullptr) {
#ifdef _WIN32
    struct _stat64 status;
    if (_wstat64(WideOf(hostPath).c_str(), &status) != 0) return errno == ENOENT ? Found::NOTHING : Found::UNKNOWN;
#else
    struct stat status;
    if (stat(hostPath.c_str(), &status) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? Found::NOTHING : Found::UNKNOWN;
    }
#endif
    if (size) *size = static_cast<uint64_t>(status.st_size);
    if ((status.st_mode & S_IFMT) == S_IFREG) return Found::FILE;
    if ((status.st_mode & S_IFMT) == S_IFDIR) return Found::FOLDER;
    return Found::OTHER;
}

// The names in one folder; false when it cannot be read.
bool FolderNames(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
#ifdef _WIN32
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(WideOf(folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        names.push_back(Utf8Of(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
#else
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    while (dirent* entry = readdir(dir)) names.push_back(entry->d_name);
    closedir(dir);
#endif
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& n) { return n == "." || n == ".."; }),
                names.end());
    std::sort(names.begin(), names.end());
    return true;
}

// The folders from the root down to the one being walked, to catch a link
// that leads back up (which would be walked until the system's limit).
struct Ancestor {
    FileIdentity identity;
    std::string path;
};

bool LeadsBack(const Ancestor& self, const std::vector<Ancestor>& ancestors, std::string& error) {
    for (const Ancestor& above : ancestors) {
        if (SameFile(above.identity, self.identity)) {
            error = "folder " + Quoted(self.path) + " is a link back to " +
                    (above.path.empty() ? std::string("the top folder") : Quoted(above.path)) +
                    ", which would be walked without end";
            return true;
        }
    }
    return false;
}

bool Walk(const std::string& root, const std::string& relative, Tree& tree, std::vector<Ancestor>& ancestors,
          std::string& error) {
    const std::string folder = relative.empty() ? root : JoinPath(root, relative);
    Ancestor self{FileIdentity{}, relative};
    const bool known = IdentifyFile(folder, self.identity);
    if (known && LeadsBack(self, ancestors, error)) return false;
    if (known) ancestors.push_back(self);
    std::vector<std::string> names;
    if (!FolderNames(folder, names)) {
        error = "folder \"" + folder + "\" cannot be read";
        return false;
    }
    for (const std::string& name : names) {
        const std::string path = relative.empty() ? name : relative + "/" + name;
        const std::string host = JoinPath(folder, name);
        TreeFile file;
        const Found kind = Stat(host, &file.size);
        if (kind == Found::FOLDER) {
            tree.folders.insert(path);
            if (!Walk(root, path, tree, ancestors, error)) return false;
        } else if (kind == Found::FILE) {
            file.path = path;
            tree.files.push_back(file);
        } else {
            tree.others.push_back(path);
        }
    }
    if (known) ancestors.pop_back();
    return true;
}

}  // namespace

bool ReadTree(const std::string& root, Tree& tree, std::string& error) {
    tree = Tree{};
    if (Stat(root) != Found::FOLDER) {
        error = "\"" + root + "\" is not a folder";
        return false;
    }
    std::vector<Ancestor> ancestors;
    if (!Walk(root, "", tree, ancestors, error)) return false;
    std::sort(tree.files.begin(), tree.files.end(),
              [](const TreeFile& a, const TreeFile& b) { return a.path < b.path; });
    return true;
}

std::string JoinPath(const std::string& root, const std::string& relative) {
#ifdef _WIN32
    std::string path = root + "\\" + relative;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
#else
    return root + "/" + relative;
#endif
}

std::u32string PathKey(const std::string& utf8Path) {
    std::string joined;
    for (const std::string& part : Components(utf8Path)) joined += (joined.empty() ? "" : "/") + part;
    std::string sjis;
    std::u32string key;
    if (Utf8ToCp932(joined, sjis) && FoldedKey(sjis, key)) return key;
    // Names without a Shift-JIS form: ASCII letters folded, the rest as bytes.
    key.clear();
    for (unsigned char c : joined) key += static_cast<char32_t>(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
    return key;
}

Found FindInFolder(const std::string& root, const std::string& path, std::string& hostPath) {
    hostPath = root;
    const std::vector<std::string> parts = Components(path);
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string exact = JoinPath(hostPath, parts[i]);
        if (Stat(exact) != Found::NOTHING) {
            hostPath = exact;
            continue;
        }
        std::vector<std::string> names;
        if (!FolderNames(hostPath, names)) return Found::NOTHING;
        const std::u32string wanted = PathKey(parts[i]);
        const auto match = std::find_if(names.begin(), names.end(),
                                        [&](const std::string& n) { return PathKey(n) == wanted; });
        if (match == names.end()) {
            hostPath = exact;
            return Found::NOTHING;
        }
        hostPath = JoinPath(hostPath, *match);
    }
    return Stat(hostPath);
}
