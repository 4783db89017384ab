#pragma once
// Real files in the Wine prefix for tests: a private folder removed afterwards,
// and whole-file reads and writes.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteWholeFile(const std::string& path, const std::string& text);

// The file's bytes; `exists` tells a missing file from an empty one.
std::vector<uint8_t> ReadWholeFile(const std::string& path, bool* exists = nullptr);

std::string ReadText(const std::string& path);

// Anything at `path`: a file, a folder or a link.
bool Exists(const std::string& path);

bool FileExists(const std::string& path);

void RemoveTree(const std::string& folder);

// The build's bin folder, beside the tests folder this program runs from.
std::string BinFolder();

// A fresh folder under the temporary directory, removed with everything in it.
class TempFolder {
public:
    explicit TempFolder(const char* tag = "t");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

}  // namespace testing_support
