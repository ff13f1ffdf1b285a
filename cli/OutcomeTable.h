// Reads an output document and lists every recorded instance outcome as a
// table a person can read: task, instance, status, message errors with their
// arguments and native error texts. The document is read in one pass, line by
// line, without building its tree: the outcomes are those a walk of the tree
// would find.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vxl_cli {

// One message error as the document records it: facility, number and the
// arguments in order.
struct MessageError {
    std::string facility;
    std::string id;
    std::vector<std::string> arguments;
};

// "Vxlg-9027(kernel.sem, /sbin/sysctl, node1)"; no parentheses without
// arguments.
std::string messageText(const MessageError& error);

struct Outcome {
    std::string task;
    int instance = 0;  // position among the node's instances of the task
    std::string node;
    std::string status;
    std::vector<MessageError> messages;
    std::vector<std::string> nativeErrors;  // command error texts
};

// Outcomes in document order. False (with why set) when the document cannot
// be read.
bool readOutcomes(const std::string& outputDocument, std::vector<Outcome>& outcomes,
                  std::string& why);
// The same from the document's text; name stands for it in why.
bool readOutcomesFromText(const std::string& text, const std::string& name,
                          std::vector<Outcome>& outcomes, std::string& why);

void printOutcomeTable(const std::vector<Outcome>& outcomes, std::ostream& out);

}  // namespace vxl_cli
