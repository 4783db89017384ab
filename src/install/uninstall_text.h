#pragma once
// The text of the uninstaller's list "uninst.lst" and the rule by which a run
// extends it; shared by the update run and the packer's preview of a run.
#include <cstdint>

// The list, the appended lines and the final NUL must fit into this many bytes.
constexpr uint32_t UNINSTALL_LIST_BUFFER_SIZE = 0x100000;

// The length of the text in `size` bytes read from the list: the final NUL,
// when the file has one, is where the text ends; an empty file is empty text.
// False for a file outside the format: a NUL inside the text, or no room left
// in the buffer after it.
bool UninstallTextLength(const char* bytes, uint32_t size, uint32_t& length);

// Appends "name\n" to the text in `buffer` (UNINSTALL_LIST_BUFFER_SIZE bytes,
// NUL-terminated at `length`) for each name, up to the null pointer, that the
// text does not hold anywhere yet, the lines appended before it included; a
// last line without its end gets a "\n" before the first name appended.
// False when the text would outgrow the buffer.
bool AppendMissingNames(char* buffer, uint32_t& length, const char* const* names);
