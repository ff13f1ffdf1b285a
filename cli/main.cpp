// vxlfixup: runs a fix-up data document on this node through the library's
// host interface, shows the outcomes recorded in an output document, or sets
// up SSH user equivalence for the current user.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "JsonText.h"
#include "OutcomeTable.h"
#include "Plan.h"
#include "SshResultText.h"
#include "util/FileIO.h"
#include "vxlfixup/vxlfixup.h"

namespace {

using vxl_cli::absolute;
using vxl_cli::isWritableDirectory;
using vxl_cli::shortHostName;
using vxl_cli::usageError;
using vxl_cli::withSlash;

const char* const kUsage =
    "usage: vxlfixup run DOCUMENT.xml [--node NAME] [--work-dir DIR] [--trace-dir DIR]\n"
    "                    [--trace-level N] [--in-memory] [--format text|json]\n"
    "       vxlfixup plan DOCUMENT.xml [--node NAME] [--work-dir DIR] [--output DIR]\n"
    "                     [--format text|json]\n"
    "       vxlfixup show OUTPUT.xml [--format text|json]\n"
    "       vxlfixup ssh-equiv generate|reuse|update|refresh [--node NAME] [--work-dir DIR]\n"
    "                          [--input FILE] [--file NAME] [--trace-level N]\n"
    "                          [--format text|json]\n"
    "       vxlfixup --help\n"
    "\n"
    "run    fixes every task of DOCUMENT.xml that applies to this node, writes the\n"
    "       output document, prints its path and a table of every outcome, and exits\n"
    "       with the run's return code (0: the run ended normally).\n"
    "plan   shows what run would change, changing nothing: runs DOCUMENT.xml with the\n"
    "       library in a copy of this machine (as root) and prints the outcome table,\n"
    "       the commands run, a diff of every text file a run would create, change or\n"
    "       delete (binary files and the package database named), the kernel values a\n"
    "       run would change, the service and cluster calls it would make (recorded\n"
    "       in the copy, not made) and, per task, what the copy cannot show; exits as\n"
    "       run would.\n"
    "show   prints the outcome table of an existing output document (--format json:\n"
    "       the outcomes as one JSON document).\n"
    "\n"
    "options of run:\n"
    "  --node NAME        the local node name (default: this machine's short host name)\n"
    "  --work-dir DIR     work directory for the scratch files, the trace and the output\n"
    "                     document (default: a new folder vxlfixup-work-* here); created\n"
    "                     (mode 0700) when it does not exist but its parent does\n"
    "  --trace-dir DIR    trace directory (only with --in-memory; default: the work directory)\n"
    "  --trace-level N    0 traces every line, 1-2 flow lines, 3 and above outcome lines only\n"
    "                     (default: 5)\n"
    "  --in-memory        read the document here and hand its text to the library instead\n"
    "                     of its path; the run then also fails when any task failed\n"
    "  --format text|json the output document's path and the outcome table as text\n"
    "                     (default), or both as one JSON document on standard output\n"
    "                     (the outcomes as plan --format json lists them); the exit\n"
    "                     status is the same\n"
    "\n"
    "options of plan (--node as for run):\n"
    "  --work-dir DIR     the work directory as a run would use it (fix-up scripts without\n"
    "                     a path are found there); written only in the copy (default: a new\n"
    "                     folder vxlfixup-work-* here, in the copy); one that does not exist\n"
    "                     but whose parent does is made in the copy (mode 0700), as run\n"
    "                     would make it\n"
    "  --output DIR       a new directory to keep the copy's output document, the run's trace\n"
    "                     and, under files/, every file the run created or changed\n"
    "  --format text|json the report as text (default) or as one JSON document\n"
    "\n"
    "ssh-equiv sets up password-less SSH for the user running it, in ~/.ssh (~ is $HOME),\n"
    "       through the library's vxlSetupUserEquivalence; prints the outcome (and the\n"
    "       error text on failure) and exits with the function's return value:\n"
    "  generate   creates the key pair ~/.ssh/NODE.id_rsa(.pub) and publishes the public\n"
    "             key as DIR/NODE.id_rsa.pub\n"
    "  reuse      publishes the existing ~/.ssh/id_rsa.pub as DIR/NODE.id_rsa.pub instead\n"
    "  update     adds the keys of --input FILE missing from ~/.ssh/NAME; FILE is removed\n"
    "             once they are in (kept when the update failed)\n"
    "  refresh    makes the NODE key pair the default one (the old ~/.ssh/id_rsa kept as\n"
    "             id_rsa.bkup) and loads it into a new ssh-agent, whose SSH_AUTH_SOCK\n"
    "             and SSH_AGENT_PID it prints\n"
    "  Across a cluster: generate (or reuse) on every node, collect the published keys\n"
    "  into one file, then update with it and refresh on every node.\n"
    "\n"
    "options of ssh-equiv (--node, --work-dir and --trace-level as for run):\n"
    "  --input FILE       update: the file of public keys to import (required)\n"
    "  --file NAME        update: the file in ~/.ssh to add them to (default: authorized_keys)\n"
    "  --format text|json the outcome as text (default) or as one JSON document: operation,\n"
    "                     succeeded, the key paths, the messages and the error text\n";

// A fresh folder under the current directory for a run's files.
bool makeDefaultWorkDir(std::string& dir, std::string& why) {
    dir = vxl_cli::defaultWorkDir();
    if (::mkdir(dir.c_str(), 0700) != 0) {
        why = "cannot create work directory " + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool validFormat(const std::string& format) { return format == "text" || format == "json"; }

int showOutcomes(const std::vector<std::string>& args) {
    std::string document, format = "text";
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--format") {
            if (!vxl_cli::optionValue(args, i, format) || !validFormat(format)) {
                return usageError("--format needs text or json");
            }
        } else if (!args[i].empty() && args[i][0] == '-') {
            return usageError("unknown option " + args[i] + " for show");
        } else if (document.empty()) {
            document = args[i];
        } else {
            return usageError("show needs exactly one OUTPUT.xml");
        }
    }
    if (document.empty()) return usageError("show needs exactly one OUTPUT.xml");
    std::vector<vxl_cli::Outcome> outcomes;
    std::string why;
    if (!vxl_cli::readOutcomes(document, outcomes, why)) {
        std::cerr << "vxlfixup: " << why << "\n";
        return 2;
    }
    if (format == "json") {
        vxl_cli::printShowJson(document, outcomes, std::cout);
    } else {
        vxl_cli::printOutcomeTable(outcomes, std::cout);
    }
    return 0;
}

// "--trace-level" values: a decimal int.
bool parseTraceLevel(const std::string& text, int& level) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || parsed < INT_MIN || parsed > INT_MAX) {
        return false;
    }
    level = static_cast<int>(parsed);
    return true;
}

// The default work directory, or the given one made absolute; it must be a
// writable directory. With createMissing a given one that does not exist
// yet is created, its last component only.
bool prepareWorkDir(std::string& workDir, bool createMissing) {
    std::string why;
    if (workDir.empty() && !makeDefaultWorkDir(workDir, why)) {
        std::cerr << "vxlfixup: " << why << "\n";
        return false;
    }
    workDir = withSlash(absolute(workDir));
    if (createMissing && vxl_cli::nothingAt(workDir) && !vxl_cli::createWorkDir(workDir, why)) {
        std::cerr << "vxlfixup: " << why << "\n";
        return false;
    }
    if (!isWritableDirectory(workDir)) {
        std::cerr << "vxlfixup: work directory " << workDir << " is not a writable directory\n";
        return false;
    }
    return true;
}

int run(const std::vector<std::string>& args) {
    std::string document, node, workDir, traceDir, format = "text";
    int traceLevel = 5;
    bool inMemory = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) { return vxl_cli::optionValue(args, i, into); };
        if (a == "--node") {
            if (!value(node) || node.empty()) return usageError("--node needs a name");
        } else if (a == "--work-dir") {
            if (!value(workDir) || workDir.empty())
                return usageError("--work-dir needs a directory");
        } else if (a == "--trace-dir") {
            if (!value(traceDir) || traceDir.empty())
                return usageError("--trace-dir needs a directory");
        } else if (a == "--trace-level") {
            std::string level;
            if (!value(level)) return usageError("--trace-level needs a number");
            if (!parseTraceLevel(level, traceLevel)) {
                return usageError("--trace-level needs a number, not '" + level + "'");
            }
        } else if (a == "--in-memory") {
            inMemory = true;
        } else if (a == "--format") {
            if (!value(format) || !validFormat(format)) {
                return usageError("--format needs text or json");
            }
        } else if (!a.empty() && a[0] == '-') {
            return usageError("unknown option " + a);
        } else if (document.empty()) {
            document = a;
        } else {
            return usageError("more than one document given");
        }
    }
    if (document.empty()) return usageError("run needs a DOCUMENT.xml");
    std::string documentText;
    int errorNumber = 0;
    if (!vxl_fixup::readWholeFile(document, documentText, errorNumber)) {
        std::cerr << "vxlfixup: cannot read " << document << ": " << std::strerror(errorNumber)
                  << "\n";
        return 2;
    }
    if (node.empty()) node = shortHostName();
    if (!prepareWorkDir(workDir, true)) return 2;
    if (!traceDir.empty()) {
        traceDir = withSlash(absolute(traceDir));
        if (!isWritableDirectory(traceDir)) {
            std::cerr << "vxlfixup: trace directory " << traceDir
                      << " is not a writable directory\n";
            return 2;
        }
    }
    const std::string dataFile = absolute(document);
    std::vector<char> work(workDir.begin(), workDir.end()), data(dataFile.begin(), dataFile.end()),
        name(node.begin(), node.end()), traces(traceDir.begin(), traceDir.end());
    for (auto* v : {&work, &data, &name, &traces}) v->push_back('\0');
    vxlfixup record{};
    record.workDir = work.data();
    record.dataFile = data.data();
    record.nodeName = name.data();
    record.traceDir = traceDir.empty() ? nullptr : traces.data();
    record.traceLevel = traceLevel;
    const int rc = inMemory ? vxlRunAutoFixup(&record, &documentText) : vxlRunFixup(&record);
    vxl_cli::RunSummary summary;
    summary.document = dataFile;
    summary.node = node;
    summary.workDir = workDir;
    summary.exitCode = rc;
    if (record.errorMessage != nullptr) {
        summary.error = record.errorMessage;
        std::cerr << "vxlfixup: " << record.errorMessage << "\n";
        vxlFixupMemFree(record.errorMessage);
    }
    bool unreadable = false;
    if (record.outputFile != nullptr) {
        summary.outputDocument = record.outputFile;
        vxlFixupMemFree(record.outputFile);
        std::string why;
        unreadable = !vxl_cli::readOutcomes(summary.outputDocument, summary.outcomes, why);
        if (unreadable) {
            summary.error += (summary.error.empty() ? "" : "; ") + why;
            if (rc == 0) summary.exitCode = 2;
        }
        if (format == "text") {
            std::cout << "output document: " << summary.outputDocument << "\n\n";
            if (unreadable) std::cerr << "vxlfixup: " << why << "\n";
            if (!unreadable) vxl_cli::printOutcomeTable(summary.outcomes, std::cout);
        } else if (unreadable) {
            std::cerr << "vxlfixup: " << why << "\n";
        }
    }
    if (format == "json") vxl_cli::printRunJson(summary, std::cout);
    return summary.exitCode;
}

// ssh-equiv OPERATION [options]: one call of vxlSetupUserEquivalence.
int sshEquiv(const std::vector<std::string>& args) {
    if (args.empty()) return usageError("ssh-equiv needs generate, reuse, update or refresh");
    const std::string& word = args[0];
    if (word != "generate" && word != "reuse" && word != "update" && word != "refresh") {
        return usageError("unknown ssh-equiv operation " + word);
    }
    std::string node, workDir, input, file, format = "text";
    int traceLevel = 5;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) { return vxl_cli::optionValue(args, i, into); };
        std::string level;
        if (a == "--node") {
            if (!value(node)) return usageError("--node needs a name");
        } else if (a == "--work-dir") {
            if (!value(workDir)) return usageError("--work-dir needs a directory");
        } else if (a == "--input" && word == "update") {
            if (!value(input)) return usageError("--input needs a file");
        } else if (a == "--file" && word == "update") {
            if (!value(file)) return usageError("--file needs a file name");
        } else if (a == "--trace-level") {
            if (!value(level) || !parseTraceLevel(level, traceLevel)) {
                return usageError("--trace-level needs a number");
            }
        } else if (a == "--format") {
            if (!value(format) || !validFormat(format)) {
                return usageError("--format needs text or json");
            }
        } else {
            return usageError("unknown option " + a + " for ssh-equiv " + word);
        }
    }
    if (word == "update" && input.empty()) return usageError("ssh-equiv update needs --input FILE");
    if (word == "update" && file.empty()) file = "authorized_keys";
    if (node.empty()) node = shortHostName();
    if (!prepareWorkDir(workDir, false)) return 2;
    if (!input.empty()) input = absolute(input);
    std::string operation = word;
    for (char& c : operation) c = static_cast<char>(c - 'a' + 'A');

    SshEquivalenceRequest request{};
    request.workDir = workDir.c_str();
    request.operation = operation.c_str();
    request.inputKeyFile = input.empty() ? nullptr : input.c_str();
    request.fileToUpdate = file.empty() ? nullptr : file.c_str();
    request.nodeName = node.c_str();
    request.traceLevel = traceLevel;
    const char* inherited = std::getenv("SSH_AGENT_PID");
    const std::string agentBefore = inherited ? inherited : "";
    const int rc = vxlSetupUserEquivalence(&request);
    vxl_cli::SshSummary summary;
    summary.operation = operation;
    summary.node = node;
    summary.workDir = workDir;
    summary.exitCode = rc;
    if (request.resultText != nullptr) {
        summary.resultText = request.resultText;
        vxlFixupMemFree(request.resultText);
        if (format == "text") std::cout << vxl_cli::describeSshResultText(summary.resultText);
    }
    // A new agent outlives this process; its variables were set only here.
    const char* socket = std::getenv("SSH_AUTH_SOCK");
    const char* agent = std::getenv("SSH_AGENT_PID");
    if (word == "refresh" && socket != nullptr && agent != nullptr && agentBefore != agent) {
        summary.agentSocket = socket;
        summary.agentPid = agent;
        if (format == "text") {
            std::cout << "  agent: SSH_AUTH_SOCK=" << socket << " SSH_AGENT_PID=" << agent << "\n";
        }
    }
    if (request.errorMessage != nullptr) {
        summary.error = request.errorMessage;
        std::cerr << "vxlfixup: " << request.errorMessage << "\n";
        vxlFixupMemFree(request.errorMessage);
    }
    if (format == "json") vxl_cli::printSshJson(summary, std::cout);
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usageError("no command given");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::cout << kUsage;
        return 0;
    }
    try {
        if (args[0] == "run") return run({args.begin() + 1, args.end()});
        if (args[0] == "plan") return vxl_cli::plan({args.begin() + 1, args.end()});
        if (args[0] == "ssh-equiv") return sshEquiv({args.begin() + 1, args.end()});
        if (args[0] == "show") return showOutcomes({args.begin() + 1, args.end()});
    } catch (const std::exception& e) {
        std::cerr << "vxlfixup: " << e.what() << "\n";
        return 2;
    }
    return usageError("unknown command " + args[0]);
}
