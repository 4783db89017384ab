// Linked into a test program, makes every test in it see Windows' refusals.
#include <gtest/gtest.h>

#include <memory>

#include "support/windows_refusals.h"

namespace testing_support {
namespace {

class RefusalsEverywhere : public ::testing::Environment {
public:
    void SetUp() override {
        refusals_.reset(new WindowsRefusals);
        ASSERT_TRUE(refusals_->Installed());
    }
    void TearDown() override { refusals_.reset(); }

private:
    std::unique_ptr<WindowsRefusals> refusals_;
};

[[maybe_unused]] ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new RefusalsEverywhere);

}  // namespace
}  // namespace testing_support
