// Turns the result text of vxlSetupUserEquivalence into lines a person can
// read: the operation and its outcome, the key paths of GENERATE and REUSE,
// and every message error with its arguments.
#pragma once

#include <string>
#include <vector>

namespace vxl_cli {

// The result text taken apart. An unrecognised text has recognised false and
// nothing else set.
struct SshResult {
    bool recognised = false;
    std::string operation;  // "GENERATE", ...; empty for a bare message list
    bool succeeded = false;
    std::string publishedKey;           // GENERATE and REUSE
    std::string keyInSshDirectory;      // GENERATE and REUSE
    std::vector<std::string> messages;  // "Vxlg-9080(a, b, c)"
};
SshResult parseSshResultText(const std::string& resultText);

// "GENERATE succeeded\n  published public key: ...\n", or "UPDATE failed\n"
// followed by "  Vxlg-9080(path, node1, reason)" lines. A text of another
// form comes back as it is, on one line.
std::string describeSshResultText(const std::string& resultText);

}  // namespace vxl_cli
