// A command that cannot even be started (an argument far beyond what the
// kernel passes to a program) reports its own failure: its exit code and its
// own error text, never what the command before it left in the Result.
#include <gtest/gtest.h>

#include <string>

#include "model/NativeError.h"
#include "model/Result.h"
#include "support/ScratchFixture.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {
namespace {

class SpawnFailureTest : public vxl_test::ScratchFixture {};

// Disabled until the runner starts programs itself: through the shell, a
// start failure leaves neither pad, and the previous command's output is
// reported as this command's error.
TEST_F(SpawnFailureTest, DISABLED_AnArgumentTooLongToStartReportsItsOwnError) {
    Result result;
    const std::string echo = "/bin/echo", before = "65536";
    ASSERT_EQ(FixupUtil::runExe(&echo, {&before}, &result, false), 0);
    const std::string huge(25 * 1024 * 1024, 'a');
    const int rc = FixupUtil::runExe(&echo, {&huge}, &result, false);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(result.getStatus(), FAILED);
    const auto errors = result.getNativeErrorList();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]->exitCode, rc);
    ASSERT_NE(errors[0]->details, nullptr);
    EXPECT_FALSE(errors[0]->details->empty()) << "its own error text";
    EXPECT_EQ(errors[0]->details->find(before), std::string::npos) << "a leftover";
    EXPECT_TRUE(result.getOutput() == nullptr || *result.getOutput() != before) << "a leftover";
}

}  // namespace
}  // namespace vxl_fixup
