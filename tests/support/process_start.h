#pragma once
// Starting a program from a test. Under Wine on a busy machine CreateProcess
// now and then fails before the program runs at all; that says nothing of the
// program, so a failed start is tried again a few times, each failure printed
// with its error code. A program that started is never started again.
#include <windows.h>

#include <cstdio>
#include <string>

namespace testing_support {

constexpr int START_ATTEMPTS = 3;

// True with `process` filled when `program` started; its handles are the caller's.
// With `output` (an inheritable handle) its standard output goes there, and its
// standard error too unless `errors` (inheritable as well) is given.
inline bool StartProgram(const std::string& program, const std::string& commandLine, PROCESS_INFORMATION& process,
                         HANDLE output = nullptr, HANDLE errors = nullptr) {
    for (int attempt = 1; attempt <= START_ATTEMPTS; ++attempt) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (output) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = output;
            startup.hStdError = errors ? errors : output;
        }
        std::string line = commandLine;  // CreateProcessA may write into it
        process = {};
        if (CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, output != nullptr, 0, nullptr, nullptr,
                           &startup, &process)) {
            return true;
        }
        std::fprintf(stderr, "start %d of %d of %s failed: CreateProcess error %lu\n", attempt, START_ATTEMPTS,
                     program.c_str(), GetLastError());
    }
    return false;
}

}  // namespace testing_support
