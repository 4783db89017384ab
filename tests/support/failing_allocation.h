#pragma once
// Makes the non-throwing operator new fail on demand, for tests of the paths
// taken when memory cannot be had. Link failing_allocation.cpp into the test.
#include <cstddef>

namespace testing_support {

// While an object lives, every nothrow allocation of `from` bytes or more fails.
class NothrowAllocationFailure {
public:
    explicit NothrowAllocationFailure(size_t from);
    ~NothrowAllocationFailure();
    NothrowAllocationFailure(const NothrowAllocationFailure&) = delete;
    NothrowAllocationFailure& operator=(const NothrowAllocationFailure&) = delete;

    // Nothrow allocations refused so far while failing.
    static size_t Refused();
};

}  // namespace testing_support
