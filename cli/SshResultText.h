// Turns the result text of vxlSetupUserEquivalence into lines a person can
// read: the operation and its outcome, the key paths of GENERATE and REUSE,
// and every message error with its arguments.
#pragma once

#include <string>

namespace vxl_cli {

// "GENERATE succeeded\n  published public key: ...\n", or "UPDATE failed\n"
// followed by "  Vxlg-9080(path, node1, reason)" lines. A text of another
// form comes back as it is, on one line.
std::string describeSshResultText(const std::string& resultText);

}  // namespace vxl_cli
