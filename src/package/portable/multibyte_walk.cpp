#include "package/portable/multibyte_walk.h"

bool IsCp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

const char* LastComponentOf(const char* path, LeadByteTest isLeadByte) {
    const char* p = path[0] != '\0' && path[1] == ':' ? path + 2 : path;
    const char* start = p;
    for (; *p != '\0'; p = NextCharacter(p, isLeadByte)) {
        if (IsPathSeparator(*p)) start = p + 1;
    }
    return start;
}

void SplitLastComponent(const char* path, LeadByteTest isLeadByte, const char** name, const char** extension) {
    const char* start = LastComponentOf(path, isLeadByte);
    const char* lastDot = nullptr;
    const char* p = start;
    for (; *p != '\0'; p = NextCharacter(p, isLeadByte)) {
        if (*p == '.') lastDot = p;
    }
    *name = start;
    *extension = lastDot ? lastDot : p;
}
