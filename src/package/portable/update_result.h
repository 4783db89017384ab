#pragma once
#include <cstdint>

// Result of an update run; the entry driver turns it into a message and an exit code.
using UpdateResult = uint32_t;

constexpr UpdateResult UPDATE_OK = 0;
constexpr UpdateResult UPDATE_E_CORRUPT = 0x80000001;
constexpr UpdateResult UPDATE_E_TOO_MANY_ENTRIES = 0x80000002;
constexpr UpdateResult UPDATE_E_IO = 0x80000004;
constexpr UpdateResult UPDATE_E_UNINSTALL_LIST = 0x80000005;
constexpr UpdateResult UPDATE_E_CANCELLED = 0x80000006;
constexpr UpdateResult UPDATE_E_ABORTED = 0x80000007;
