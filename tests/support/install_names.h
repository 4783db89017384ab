#pragma once
// The install names of a run as the commit pass takes them: one slot per entry,
// then the null slot.
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct InstallNames {
    explicit InstallNames(std::vector<std::string> names) : text(std::move(names)) {
        for (const std::string& name : text) slots.push_back(name.c_str());
        slots.push_back(nullptr);
    }
    InstallNames(const InstallNames&) = delete;
    InstallNames& operator=(const InstallNames&) = delete;

    const char* const* Slots() const { return slots.data(); }
    uint32_t Count() const { return static_cast<uint32_t>(text.size()); }

    std::vector<std::string> text;
    std::vector<const char*> slots;
};

}  // namespace testing_support
