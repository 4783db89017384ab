#include "support/failing_allocation.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

size_t failFrom = SIZE_MAX;
size_t refused = 0;

void* Allocate(size_t size) {
    if (size >= failFrom) {
        ++refused;
        return nullptr;
    }
    return std::malloc(size ? size : 1);
}

}  // namespace

// The library's operator delete releases with free, so malloc pairs with it.
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }

namespace testing_support {

NothrowAllocationFailure::NothrowAllocationFailure(size_t from) {
    failFrom = from;
    refused = 0;
}

NothrowAllocationFailure::~NothrowAllocationFailure() { failFrom = SIZE_MAX; }

size_t NothrowAllocationFailure::Refused() { return refused; }

}  // namespace testing_support
