#include "model/Result.h"

#include <gtest/gtest.h>

#include <memory>

#include "model/FixupException.h"

namespace vxl_fixup {
namespace {

TEST(ResultTest, StatusMergeTable) {
    const _STATUS all[] = {SUCCESSFUL, WARNING, FAILED, ERROR, UNKNOWN};
    // Rows: current; columns: new (same order as all[]).
    const _STATUS expected[5][5] = {
        {SUCCESSFUL, WARNING, FAILED, ERROR, SUCCESSFUL},
        {WARNING, WARNING, FAILED, ERROR, WARNING},
        {FAILED, FAILED, FAILED, ERROR, FAILED},
        {ERROR, ERROR, ERROR, ERROR, ERROR},
        {SUCCESSFUL, WARNING, FAILED, ERROR, UNKNOWN},
    };
    for (int c = 0; c < 5; ++c) {
        for (int n = 0; n < 5; ++n) {
            Result r;
            r.setStatus(all[c]);
            r.updateStatus(all[n]);
            EXPECT_EQ(r.getStatus(), expected[c][n]) << "current " << c << " new " << n;
        }
    }
}

TEST(ResultTest, NativeErrorTextsSkipEmptyDetails) {
    Result r;
    EXPECT_EQ(std::unique_ptr<std::string>(r.getNativeErrorMsgsString())->size(), 0u);
    const std::string a = "a", empty, c = "c", cmd = "cmd";
    r.setNativeErrorDetails(&cmd, 1, &a);
    r.setNativeErrorDetails(&cmd, 2, &empty);
    r.setNativeErrorDetails(nullptr, 3, nullptr);
    r.setNativeErrorDetails(&cmd, 4, &c);
    EXPECT_TRUE(r.isUnknown()) << "recording details must not change the status";
    EXPECT_EQ(*std::unique_ptr<std::string>(r.getNativeErrorMsgsString()), "a\nc");
    ASSERT_EQ(r.getNativeErrorList().size(), 4u);
    EXPECT_EQ(r.getNativeErrorList()[2]->command, nullptr);
    EXPECT_EQ(r.getNativeErrorList()[3]->exitCode, 4);
}

TEST(ResultTest, SharedRecordsOutliveTheResultThatListedThem) {
    Result overall;
    {
        Result instance;
        instance.addError(new NLSError("Vxlg", true, 9028, 2, "x", "node1"));
        for (NLSError* e : instance.getErrorList()) overall.addError(e);
    }
    ASSERT_EQ(overall.getErrorList().size(), 1u);
    const NLSError* e = overall.getErrorList()[0];
    EXPECT_EQ(*e->facility, "Vxlg");
    EXPECT_EQ(*e->messageNumber, "9028");
    ASSERT_EQ(e->arguments.size(), 2u);
    EXPECT_EQ(*e->arguments[1], "node1");
    EXPECT_TRUE(e->displayFacility);
}

TEST(ResultTest, OutputIsOwnedAndReplacedAndClearResets) {
    Result r;
    r.setOutput(new std::string("one"));
    r.setOutput(nullptr);
    EXPECT_EQ(*r.getOutput(), "one");
    r.setOutput(new std::string("two"));  // the earlier text is released, not leaked
    EXPECT_EQ(*r.getOutput(), "two");
    r.addError(new NLSError("Vxlg", true, 1));
    r.setStatus(FAILED);
    r.clear();
    EXPECT_TRUE(r.isUnknown());
    EXPECT_EQ(r.getOutput(), nullptr);
    EXPECT_FALSE(r.hasErrors());
}

TEST(NLSErrorTest, VariadicArgumentsStopAtNull) {
    NLSError e("Vxlf", false, 9028, 3, "x", static_cast<const char*>(nullptr), "z");
    ASSERT_EQ(e.arguments.size(), 1u);
    EXPECT_EQ(*e.arguments[0], "x");
    EXPECT_FALSE(e.displayFacility);
    NLSError negative("Vxle", true, -7);
    EXPECT_EQ(*negative.messageNumber, "-7");
}

}  // namespace
}  // namespace vxl_fixup
