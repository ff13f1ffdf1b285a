#include "model/Script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>

#include "model/Result.h"
#include "support/ScratchFixture.h"
#include "support/TempDir.h"

namespace vxl_fixup {
namespace {

class ShellScriptTest : public vxl_test::ScratchFixture {};

TEST_F(ShellScriptTest, RunsTheFileWithDocumentArgumentsAsPlainWords) {
    // A location with a blank and arguments a shell would otherwise expand.
    const std::string location = work.file("script dir");
    ::mkdir(location.c_str(), 0700);
    const std::string name = "show args.sh";
    vxl_test::TempDir::write(location + "/" + name, "#!/bin/sh\nprintf '%s|' \"$@\"\n");
    ::chmod((location + "/" + name).c_str(), 0700);
    std::unique_ptr<Script> script(Script::createScript(SCRIPT_TYPE_SHELL, &name, &location));
    const std::string a = "$(touch pwned)", b = "it's; `id` *", c = "";
    script->setArgumentList({&a, &b, &c});
    std::unique_ptr<Result> result(script->runScript());
    EXPECT_TRUE(result->isSuccessFul());
    ASSERT_NE(result->getOutput(), nullptr);
    EXPECT_EQ(*result->getOutput(), "$(touch pwned)|it's; `id` *||");
    EXPECT_FALSE(vxl_test::TempDir::exists("pwned"));
    // A missing script file is reported, not run.
    const std::string missing = "missing.sh";
    std::unique_ptr<Script> absent(Script::createScript(SCRIPT_TYPE_SHELL, &missing, &location));
    result.reset(absent->runScript());
    EXPECT_TRUE(result->isFailed());
    ASSERT_EQ(result->getErrorList().size(), 1u);
    EXPECT_EQ(*result->getErrorList()[0]->messageNumber, "9020");
}

}  // namespace
}  // namespace vxl_fixup
