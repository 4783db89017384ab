#pragma once
// The text of the uninstaller's list "uninst.lst" and the rule by which a run
// extends it; shared by the update run and the packer's preview of a run.
#include <cstdint>

constexpr char UNINSTALL_LIST_NAME[] = "uninst.lst";
// The new list is written here first and then renamed over the list; a name
// ending in ".tmp", like the run's temporary files, which no install name has,
// and no longer than the list's own, so its path fits wherever the list's does.
constexpr char UNINSTALL_LIST_SCRATCH_NAME[] = "uninst.tmp";

// The list, the appended lines and the final NUL must fit into this many bytes.
constexpr uint32_t UNINSTALL_LIST_BUFFER_SIZE = 0x100000;

// The length of the text in `size` bytes read from the list: the final NUL,
// when the file has one, is where the text ends; an empty file is empty text.
// False for a file outside the format: a NUL inside the text, or no room left
// in the buffer after it.
bool UninstallTextLength(const char* bytes, uint32_t size, uint32_t& length);

// Whether `name` stands as a whole line of the text's `length` bytes, byte for
// byte: lines end at "\n", a "\r" before it not counted, and the last line runs
// to the end of the text. A name inside a longer line ("bgm\op.ogg" for
// "op.ogg") is no line of its own: the uninstaller would leave that file behind.
bool ListsName(const char* text, uint32_t length, const char* name);

// Appends "name\n" to the text in `buffer` (UNINSTALL_LIST_BUFFER_SIZE bytes,
// NUL-terminated at `length`) for each non-empty name, up to the null pointer,
// that the text does not list yet, the lines appended before it included; a
// last line without its end gets a "\n" before the first name appended.
// False when the text would outgrow the buffer.
bool AppendMissingNames(char* buffer, uint32_t& length, const char* const* names);
