#include "package/portable/install_names.h"

#include <cstring>

namespace {

constexpr char UNUSABLE_CHARACTERS[] = "<>\"|?*";
constexpr const char* DEVICE_NAMES[] = {"CON", "PRN", "AUX", "NUL"};
constexpr const char* NUMBERED_DEVICE_NAMES[] = {"COM", "LPT"};
constexpr size_t NUMBERED_DEVICE_STEM = 3;

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool StemIs(const char* stem, size_t length, const char* device) {
    if (std::strlen(device) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (UpperAscii(stem[i]) != device[i]) return false;
    }
    return true;
}

// The part before the first "." names the device ("nul.arc" is NUL); spaces
// before the dot do not count. Device names are ASCII, so no trail byte can
// be mistaken for one of their letters.
bool IsDeviceComponent(const char* start, size_t length) {
    const void* dot = std::memchr(start, '.', length);
    size_t stem = dot ? static_cast<size_t>(static_cast<const char*>(dot) - start) : length;
    while (stem > 0 && start[stem - 1] == ' ') --stem;
    for (const char* device : DEVICE_NAMES) {
        if (StemIs(start, stem, device)) return true;
    }
    for (const char* device : NUMBERED_DEVICE_NAMES) {
        if (stem == NUMBERED_DEVICE_STEM + 1 && StemIs(start, NUMBERED_DEVICE_STEM, device) &&
            start[NUMBERED_DEVICE_STEM] >= '1' && start[NUMBERED_DEVICE_STEM] <= '9') {
            return true;
        }
    }
    return false;
}

bool IsDotComponent(const char* start, size_t length) {
    return (length == 1 && start[0] == '.') || (length == 2 && start[0] == '.' && start[1] == '.');
}

// One component of `length` bytes of a contained name, its last
// single-byte character `last` (NUL when it ends in a double-byte one).
InstallNameFault CheckComponent(const char* start, size_t length, char last) {
    if (IsDeviceComponent(start, length)) return NAME_DEVICE;
    if (last == '.' || last == ' ') return NAME_ALTERED;
    return NAME_ACCEPTED;
}

bool EndsInTemporarySuffix(const char* name) {
    const size_t suffix = sizeof TEMPORARY_SUFFIX - 1;
    const size_t length = std::strlen(name);
    if (length < suffix) return false;
    // '.' is never a trail byte, so a name ending in these four bytes ends in ".tmp".
    for (size_t i = 0; i < suffix; ++i) {
        const char c = name[length - suffix + i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != TEMPORARY_SUFFIX[i]) return false;
    }
    return true;
}

bool IsUnusable(char c) {
    return (c > '\0' && c < ' ') || std::strchr(UNUSABLE_CHARACTERS, c) != nullptr;
}

// Copies `name` lower-cased with "/" as "\". A trail byte is never 0x2F, so
// the replacement cannot split a character.
void ComparableName(const char* name, char (&out)[UPDATER_PATH_SIZE], const NameRules& rules) {
    rules.loweredCopy(name, out, sizeof out);
    for (char* p = out; *p != '\0'; ++p) {
        if (*p == '/') *p = '\\';
    }
}

// Lowering empties a name in which a pair is no character.
bool IsText(const char* name, const NameRules& rules) {
    const char* p = name;
    for (; *p != '\0'; p = NextCharacter(p, rules.isLeadByte)) {
        if (!IsDoubleByte(p, rules.isLeadByte) && rules.isLeadByte(static_cast<unsigned char>(*p))) return false;
    }
    char lowered[UPDATER_PATH_SIZE];
    return rules.loweredCopy(name, lowered, sizeof lowered) && (lowered[0] != '\0' || p == name);
}

}  // namespace

bool IsContainedName(const char* name, LeadByteTest isLeadByte) {
    if (name[0] == '\0' || IsPathSeparator(name[0]) || name[1] == ':') return false;
    const char* componentStart = name;
    for (const char* p = name;; p = NextCharacter(p, isLeadByte)) {
        if (*p == '\0' || IsPathSeparator(*p)) {
            const size_t length = static_cast<size_t>(p - componentStart);
            if (length == 0 || IsDotComponent(componentStart, length)) return false;
            if (*p == '\0') return true;
            componentStart = p + 1;
        } else if (*p == ':') {
            return false;  // alternate data streams and device syntax
        }
    }
}

InstallNameFault CheckInstallName(const char* name, LeadByteTest isLeadByte) {
    if (!IsContainedName(name, isLeadByte)) return NAME_LEAVES_FOLDER;
    const char* componentStart = name;
    char last = '\0';
    for (const char* p = name;; p = NextCharacter(p, isLeadByte)) {
        if (*p == '\0' || IsPathSeparator(*p)) {
            const InstallNameFault fault = CheckComponent(componentStart, static_cast<size_t>(p - componentStart), last);
            if (fault != NAME_ACCEPTED) return fault;
            if (*p == '\0') return EndsInTemporarySuffix(name) ? NAME_TEMPORARY : NAME_ACCEPTED;
            componentStart = p + 1;
            last = '\0';
        } else {
            last = IsDoubleByte(p, isLeadByte) ? '\0' : *p;
        }
    }
}

bool HoldsUnusableCharacter(const char* name, LeadByteTest isLeadByte) {
    for (const char* p = name; *p != '\0'; p = NextCharacter(p, isLeadByte)) {
        if (!IsDoubleByte(p, isLeadByte) && IsUnusable(*p)) return true;
    }
    return false;
}

const char* InstallNameFaultText(InstallNameFault fault) {
    switch (fault) {
        case NAME_ACCEPTED: return "is accepted";
        case NAME_LEAVES_FOLDER: return "leaves the game folder";
        case NAME_DEVICE: return "names a device";
        case NAME_TEMPORARY: return "ends in \".tmp\", the updater's temporary files";
        case NAME_ALTERED: return "has a name ending in a dot or space";
        case NAME_NOT_TEXT: return "is no text in code page 932";
        case NAME_DUPLICATE: return "names the same file as an earlier entry";
    }
    return "is refused";
}

bool SameInstallName(const char* name, const char* other, const NameRules& rules) {
    char mine[UPDATER_PATH_SIZE];
    char theirs[UPDATER_PATH_SIZE];
    ComparableName(name, mine, rules);
    ComparableName(other, theirs, rules);
    return std::strcmp(mine, theirs) == 0;
}

InstallNameFault JudgeInstallName(const char* name, const char* const* earlier, size_t earlierCount,
                                  const NameRules& rules, int& sameNameAs) {
    sameNameAs = -1;
    const InstallNameFault fault = CheckInstallName(name, rules.isLeadByte);
    if (fault != NAME_ACCEPTED) return fault;
    if (!IsText(name, rules)) return NAME_NOT_TEXT;
    for (size_t k = 0; k < earlierCount; ++k) {
        if (CheckInstallName(earlier[k], rules.isLeadByte) == NAME_ACCEPTED && SameInstallName(name, earlier[k], rules)) {
            sameNameAs = static_cast<int>(k);
            return NAME_DUPLICATE;
        }
    }
    return NAME_ACCEPTED;
}
