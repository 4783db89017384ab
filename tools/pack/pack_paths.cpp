#include "pack_paths.h"

#include <cstring>
#include <vector>

#include "pack_text.h"

namespace {

constexpr char FORBIDDEN_CHARACTERS[] = "<>:\"|?*";
constexpr const char* DEVICE_NAMES[] = {"CON", "PRN", "AUX", "NUL"};
constexpr const char* NUMBERED_DEVICE_NAMES[] = {"COM", "LPT"};

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> SplitUtf8Path(const std::string& path) {
    std::vector<std::string> parts(1);
    for (char c : path) {
        if (IsSeparator(c)) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// CON, NUL, COM1 and the like name devices, with or without an extension.
bool IsDeviceName(const std::string& component) {
    const std::string stem = UpperAscii(component.substr(0, component.find('.')));
    for (const char* name : DEVICE_NAMES) {
        if (stem == name) return true;
    }
    for (const char* name : NUMBERED_DEVICE_NAMES) {
        if (stem.size() == 4 && stem.compare(0, 3, name) == 0 && stem[3] >= '1' && stem[3] <= '9') return true;
    }
    return false;
}

// The reason a single folder or file name cannot be installed, or empty.
std::string ComponentProblem(const std::string& component) {
    if (component.empty()) return "has an empty folder or file name";
    if (component == "." || component == "..") return "contains \"" + component + "\"";
    for (unsigned char c : component) {
        if (c < 0x20 || c == 0x7F) return "contains a control character";
        if (std::strchr(FORBIDDEN_CHARACTERS, c)) return std::string("contains \"") + static_cast<char>(c) + "\"";
    }
    const char last = component.back();
    if (last == '.' || last == ' ') return "has a name ending in a dot or space";
    if (IsDeviceName(component)) return "names a device (" + component + ")";
    return "";
}

}  // namespace

bool StoredInstallPath(const std::string& utf8, std::string& sjis, std::string& why) {
    sjis.clear();
    if (utf8.empty()) {
        why = "is empty";
        return false;
    }
    if (utf8.size() >= 2 && IsSeparator(utf8[0]) && IsSeparator(utf8[1])) {
        why = "is a UNC path";
        return false;
    }
    if (IsSeparator(utf8[0])) {
        why = "is absolute";
        return false;
    }
    if (utf8.size() >= 2 && utf8[1] == ':') {
        why = "has a drive prefix";
        return false;
    }
    for (const std::string& component : SplitUtf8Path(utf8)) {
        const std::string problem = ComponentProblem(component);
        if (!problem.empty()) {
            why = problem;
            return false;
        }
        std::string stored;
        if (!Utf8ToCp932(component, stored)) {
            const std::string lookAlikes = ShiftJisLookAlikes(component);
            why = "has no Shift-JIS form" + (lookAlikes.empty() ? "" : ": " + lookAlikes);
            return false;
        }
        sjis += sjis.empty() ? stored : "\\" + stored;
    }
    return true;
}

std::string LastComponent(const std::string& sjis) {
    size_t i = sjis.size() >= 2 && sjis[1] == ':' ? 2 : 0;
    size_t start = i;
    while (i < sjis.size()) {
        if (IsCp932LeadByte(static_cast<unsigned char>(sjis[i]))) {
            i += i + 1 < sjis.size() ? 2 : 1;
            continue;
        }
        if (IsSeparator(sjis[i])) start = i + 1;
        ++i;
    }
    return sjis.substr(start);
}

std::string BaseName(const std::string& path) {
#ifdef _WIN32
    const size_t slash = path.find_last_of("/\\");
#else
    const size_t slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
