// What UPDATE takes from an import file and which file it may write.
#include <gtest/gtest.h>

#include <string>

#include "sshequiv/SshEquivalence.h"

namespace vxl_fixup {
namespace {

TEST(PublicKeyLineTest, OnlyBareKeysOfKnownTypes) {
    const struct Case {
        std::string line;
        bool accepted;
    } cases[] = {
        {"ssh-rsa AAAAB3NzaC1yc2E= user@host", true},
        {"ssh-rsa AAAA", true},
        {"ssh-dss AAAA x", true},
        {"ssh-ed25519\tAAAAC3Nz+/09= a comment with blanks", true},
        {"ecdsa-sha2-nistp256 AAAA x", true},
        {"ecdsa-sha2-nistp384 AAAA x", true},
        {"ecdsa-sha2-nistp521 AAAA x", true},
        {"sk-ssh-ed25519@openssh.com AAAA x", true},
        {"sk-ecdsa-sha2-nistp256@openssh.com AAAA x", true},
        {"ssh-rsa AAAA x\xc3\xa9", true},
        {"command=\"touch /tmp/x\" ssh-rsa AAAA x", false},
        {"environment=\"LD_PRELOAD=/tmp/x.so\" ssh-rsa AAAA x", false},
        {"no-pty ssh-rsa AAAA x", false},
        {"root:x:0:0:root:/root:/bin/bash", false},
        {"ssh-rsa", false},
        {"ssh-rsa ", false},
        {"ssh-rsa AAAA;touch x", false},
        {"ssh-rsa AA-A x", false},
        {"ssh-rsa2 AAAA x", false},
        {"SSH-RSA AAAA x", false},
        {" ssh-rsa AAAA x", false},
        {"ssh-rsa AAAA x\x1b[2J", false},
        {std::string("ssh-rsa AAAA x\0y", 16), false},
        {"ssh-rsa AAAA x\x7f", false},
        {"# a comment", false},
    };
    for (const Case& c : cases) EXPECT_EQ(isPublicKeyLine(c.line), c.accepted) << c.line;
}

TEST(PublicKeyLineTest, UpdatesOnlyAFileOfItsOwn) {
    const SshKeyPaths paths("/home/tester", "/var/tmp/work", "node1");
    const struct Case {
        const char* name;
        bool accepted;
    } cases[] = {
        {"authorized_keys", true},
        {"authorized_keys2", true},
        {"known-keys", true},
        {"", false},
        {"id_rsa", false},
        {"id_rsa.pub", false},
        {"id_rsa.bkup", false},
        {"node1.id_rsa", false},
        {"node1.id_rsa.pub", false},
        {"config", false},
        {".ssh", false},
        {"..", false},
        {".hidden", false},
        {"-o", false},
        {"../../etc/passwd", false},
        {"sub/authorized_keys", false},
        {"keys\n", false},
        {"keys\r", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isUpdatableFileName(c.name, paths), c.accepted) << c.name;
    }
}

}  // namespace
}  // namespace vxl_fixup
