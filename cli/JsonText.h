// The tool's one JSON writer: strings, lists of strings and outcomes, as
// every "--format json" report writes them.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "OutcomeTable.h"

namespace vxl_cli {

// A JSON string. JSON strings are UTF-8: a byte that does not belong to a
// valid sequence is written as the code point of the same number (as if the
// text were Latin-1).
std::string json(const std::string& s);
std::string jsonStrings(const std::vector<std::string>& items);
// One outcome as an object: task, instance, node, status, messages (each
// "FACILITY-ID(ARG, ...)"), errors (the same messages, each as facility, id
// and arguments), nativeErrors.
std::string outcomeJson(const Outcome& o);
// "  \"outcomes\": [...]" as a member of an object written with two blanks of
// indentation, one outcome a line; no comma after it.
void printOutcomesMember(const std::vector<Outcome>& outcomes, std::ostream& out);

// What "vxlfixup run --format json" prints: the run's request, its return
// code (the exit status), the library's error text and the outcomes of the
// output document (none when there is none).
struct RunSummary {
    std::string document, node, workDir, outputDocument, error;
    int exitCode = 0;
    std::vector<Outcome> outcomes;
};
void printRunJson(const RunSummary& run, std::ostream& out);

// "vxlfixup show --format json".
void printShowJson(const std::string& outputDocument, const std::vector<Outcome>& outcomes,
                   std::ostream& out);

// "vxlfixup ssh-equiv --format json": the operation's result text taken
// apart (SshResultText.h), the agent a refresh started, the error text.
struct SshSummary {
    std::string operation, node, workDir, resultText, error, agentSocket, agentPid;
    int exitCode = 0;
};
void printSshJson(const SshSummary& ssh, std::ostream& out);

}  // namespace vxl_cli
