// The environment a REFRESH takes from the agent's output: one NAME=value
// entry per assignment, never a line end or a shell word inside a name.
#include "sshequiv/SshEquivalence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ScratchFixture.h"

namespace {

using Entries = std::vector<std::string>;

class AgentEnvironmentTest : public vxl_test::ScratchFixture {};

TEST_F(AgentEnvironmentTest, KeepsOnlyAssignmentsWithValidNames) {
    const struct {
        std::string output;
        Entries entries;
    } cases[] = {
        {"SSH_AUTH_SOCK=/tmp/ssh-x/agent.7; export SSH_AUTH_SOCK;\n"
         "SSH_AGENT_PID=8; export SSH_AGENT_PID;\necho Agent pid 8;",
         {"SSH_AUTH_SOCK=/tmp/ssh-x/agent.7", "SSH_AGENT_PID=8"}},
        {"SSH_AUTH_SOCK=/s;\r\nSSH_AGENT_PID=9;\r\n", {"SSH_AUTH_SOCK=/s", "SSH_AGENT_PID=9"}},
        {"", {}},
        {"=x; 1A=2; A-B=3; echo a=b; _A1=", {"_A1="}},
        {"setenv SSH_AUTH_SOCK /tmp/s;", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vxl_fixup::agentEnvironmentEntries(c.output), c.entries) << c.output;
    }
    const std::string trace = traceText();
    EXPECT_NE(trace.find("Main::vxlSetupUserEquivalence - Using Environment variable "
                         "(SSH_AGENT_PID=8)\n"),
              std::string::npos);
    EXPECT_NE(trace.find("Main::vxlSetupUserEquivalence - Skipping (echo Agent pid 8)\n"),
              std::string::npos);
}

}  // namespace
