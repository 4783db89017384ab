#include "pack_paths.h"

#include <vector>

#include "pack_text.h"
#include "package/portable/install_names.h"
#include "package/portable/multibyte_walk.h"

namespace {

std::vector<std::string> SplitUtf8Path(const std::string& path) {
    std::vector<std::string> parts(1);
    for (char c : path) {
        if (IsPathSeparator(c)) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

}  // namespace

// Each component is converted on its own, so that "\" joins them whatever
// the text holds; the result must then pass the updater's own rules.
bool StoredInstallPath(const std::string& utf8, std::string& sjis, std::string& why) {
    sjis.clear();
    if (utf8.empty()) {
        why = "is empty";
        return false;
    }
    const std::vector<std::string> components = SplitUtf8Path(utf8);
    for (size_t i = 0; i < components.size(); ++i) {
        std::string stored;
        if (!Utf8ToCp932(components[i], stored)) {
            const std::string lookAlikes = ShiftJisLookAlikes(components[i]);
            why = "has no Shift-JIS form" + (lookAlikes.empty() ? "" : ": " + lookAlikes);
            return false;
        }
        sjis += i == 0 ? stored : "\\" + stored;
    }
    const InstallNameFault fault = CheckInstallName(sjis.c_str(), IsCp932LeadByte);
    // The updater would take such a name, then fail to create its file.
    const bool unusable = HoldsUnusableCharacter(sjis.c_str(), IsCp932LeadByte);
    if (fault != NAME_ACCEPTED || unusable) {
        why = fault != NAME_ACCEPTED ? InstallNameFaultText(fault) : "holds a character no file name may hold";
        sjis.clear();
        return false;
    }
    return true;
}

std::string LastComponent(const std::string& sjis) {
    return LastComponentOf(sjis.c_str(), IsCp932LeadByte);
}

namespace {

size_t LastHostSeparator(const std::string& path) {
#ifdef _WIN32
    return path.find_last_of("/\\");
#else
    return path.find_last_of('/');
#endif
}

}  // namespace

std::string BaseName(const std::string& path) {
    const size_t slash = LastHostSeparator(path);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string HostFolderOf(const std::string& path) {
    const size_t slash = LastHostSeparator(path);
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}
