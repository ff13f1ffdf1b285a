// The exported SSH user-equivalence entry point: checks the request, records
// the run constants, finds the home directory, prepares the scratch pad and
// the SSH directory, runs one operation and hands the result text, the error
// text and the return value to the host. Serialised with the fix-up runs by
// the same lock; nothing unwinds into the host.
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Constants.h"
#include "engine/EntryPoints.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupException.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "sshequiv/SshEquivalence.h"
#include "util/FixupUtil.h"
#include "vxlfixup/vxlfixup.h"

const char* const RSA_KEY_FILE_NAME = "id_rsa";
const char* const SSH_KEYGEN_CMD = "/usr/bin/ssh-keygen";
const char* const SSH_AGENT_CMD = "/usr/bin/ssh-agent";
const char* const SSH_ADD_CMD = "/usr/bin/ssh-add";

namespace vxl_fixup {
namespace {

const std::string kSource = "Main::vxlSetupUserEquivalence";

enum class Operation { Generate, Reuse, Update, Refresh, Unknown };

Operation operationOf(const char* word) {
    if (word == nullptr) return Operation::Unknown;
    const std::string w = word;
    if (w == "GENERATE") return Operation::Generate;
    if (w == "REUSE") return Operation::Reuse;
    if (w == "UPDATE") return Operation::Update;
    if (w == "REFRESH") return Operation::Refresh;
    return Operation::Unknown;
}

std::string orNull(const char* text) { return text ? text : "NULL"; }

// What the host gets back.
struct Reply {
    bool hasResultText = false;
    std::string resultText;
    std::string errorText;
    int returnValue = 0;
    bool recorded = false;  // this call set the run constants: it may trace

    void answer(const std::string& text, const std::string& error, int value) {
        hasResultText = true;
        resultText = text;
        errorText = error;
        returnValue = value;
    }
};

// The failure form of the result text: the compact message text, inside the
// operation's tag when the operation is known.
std::string failureText(const SshEquivalenceRequest& request, Operation op, const Result& result) {
    const std::string nls = FixupUtil::nlsErrorsToString(result.getErrorList());
    if (op == Operation::Unknown) return nls;
    const std::string tag = request.operation;
    return "<" + tag + ">" + nls + "</" + tag + ">";
}

std::string successText(Operation op, const SshKeyPaths& paths) {
    switch (op) {
        case Operation::Generate:
            return "<GENERATE><PUB_KEY_PUB_LOC>" + paths.publishedKeyFile +
                   "</PUB_KEY_PUB_LOC><PUB_KEY_SSH_DIR_LOC>" + paths.nodePublicKeyFile +
                   "</PUB_KEY_SSH_DIR_LOC></GENERATE>";
        case Operation::Reuse:
            return "<REUSE><PUB_KEY_PUB_LOC>" + paths.publishedKeyFile +
                   "</PUB_KEY_PUB_LOC><PUB_KEY_SSH_DIR_LOC>" + paths.publicKeyFile +
                   "</PUB_KEY_SSH_DIR_LOC></REUSE>";
        case Operation::Update:
            return "<UPDATE>SUCCESS</UPDATE>";
        default:
            return "<REFRESH>SUCCESS</REFRESH>";
    }
}

// Inputs that would name no directory or leave it: refused before anything
// is recorded, traced or written. False when the request is usable.
bool refuseRequest(const SshEquivalenceRequest& request, Operation op, Reply& reply) {
    std::string why;
    if (request.workDir == nullptr || request.workDir[0] == '\0') {
        why = "the work directory path is null or an empty string.";
    } else if (request.nodeName == nullptr || request.nodeName[0] == '\0') {
        why = "the node name is null or an empty string.";
    } else if (!isUsableNodeLabel(shortLowerNodeName(request.nodeName))) {
        // It names key files: only a host-name label may, never a path.
        why = "the node name (" + std::string(request.nodeName) + ") is not a valid host name.";
    } else {
        return false;
    }
    Result result;
    result.addError(new NLSError(NLS_FACILITY_VXLG, true, 9031));
    reply.answer(failureText(request, op, result), why, 1);
    return true;
}

// $HOME, else the password database's entry of the real user; empty (errno
// in errorNumber) when neither gives one.
std::string homeDirectory(int& errorNumber) {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return home;
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    const int rc = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
        return found->pw_dir;
    }
    errorNumber = rc != 0 ? rc : errno;
    return std::string();
}

void setUpUserEquivalence(const SshEquivalenceRequest& request, Reply& reply) {
    const Operation op = operationOf(request.operation);
    if (refuseRequest(request, op, reply)) return;

    Constants::setLocalNodeName(shortLowerNodeName(request.nodeName));
    Constants::setWorkDirPath(request.workDir);
    Trace::setTraceLevel(request.traceLevel);
    reply.recorded = true;
    const std::string& node = *Constants::getLocalNodeName();
    Result result;

    errno = 0;
    int e = 0;
    const std::string home = homeDirectory(e);
    if (home.empty()) {
        result.addError(
            new NLSError(NLS_FACILITY_VXLG, true, 9076, 2, node.c_str(), errorNumberToString(e)));
        result.setStatus(FAILED);
        reply.errorText =
            "Failed to retrieve the HOME directory of the current user. The environment variable "
            "HOME was not found set.and getpwuid() function failed with an error code (" +
            integerToString(e) + ")";
        Trace::trace(kSource, reply.errorText);
        reply.returnValue = 1;
        return;
    }

    // The trace goes into the work directory, which may be another user's.
    const std::string refusal = traceFileRefusal();
    if (!refusal.empty()) {
        reply.errorText = refusal;
        reply.returnValue = 1;
        return;
    }
    FixupUtil::initScratchPad();
    Trace::trace(kSource,
                 "BEGIN - Setting up ssh user equivalence with following information \n node :" +
                     node + " \nOperation requested is :" + orNull(request.operation) +
                     " \n Work Directory :" + request.workDir + " \n Home Directory :" + home +
                     "\n input public key path:" + orNull(request.inputKeyFile) +
                     "\n file name to update :" + orNull(request.fileToUpdate) +
                     " \n TRACE_LEVEL :" + integerToString(request.traceLevel),
                 TRACE_DETAIL);
    const SshKeyPaths paths(home, request.workDir, node);
    SshEquivalence operation(paths, &result);

    if (op == Operation::Unknown) {
        // Before the SSH directory: an unknown word changes nothing.
        result.addError(
            new NLSError(NLS_FACILITY_VXLG, true, 10530, 1, orNull(request.operation).c_str()));
        result.setStatus(FAILED);
        reply.answer(failureText(request, op, result),
                     "Unknown operation (" + orNull(request.operation) +
                         "): expected GENERATE, REUSE, UPDATE or REFRESH.",
                     1);
        return;
    }

    const std::string& dir = paths.sshDirectory;
    if (!operation.acceptSshDirectory()) {
        reply.answer(failureText(request, op, result), operation.errorText(),
                     operation.returnValue());
        return;
    }
    if (!FixupUtil::checkDirectoryExistence(&dir) &&
        !FixupUtil::createDirectory(&dir, "0700", &result)) {
        Trace::trace(kSource, "FAILED to create the directory (" + dir + ")");
        reply.errorText = "Failed to create the directory (" + dir + ")";
        reply.returnValue = 1;
        return;
    }
    Trace::trace(kSource, "Directory " + dir + " exists");

    result.setStatus(SUCCESSFUL);
    switch (op) {
        case Operation::Generate:
            operation.generate();
            break;
        case Operation::Reuse:
            operation.reuse();
            break;
        case Operation::Update:
            operation.update(request.inputKeyFile, request.fileToUpdate);
            break;
        default:
            operation.refresh();
            break;
    }
    reply.answer(result.isSuccessFul() ? successText(op, paths) : failureText(request, op, result),
                 operation.errorText(), operation.returnValue());
}

}  // namespace
}  // namespace vxl_fixup

using namespace vxl_fixup;

extern "C" VXL_EXPORT int vxlSetupUserEquivalence(SshEquivalenceRequest* request) {
    if (request == nullptr) return 1;
    std::lock_guard<std::mutex> guard(runLock());
    Reply reply;
    std::string caught;
    try {
        setUpUserEquivalence(*request, reply);
        if (reply.hasResultText && reply.recorded) {
            Trace::trace(kSource, "Result Text is :" + reply.resultText, TRACE_DETAIL);
        }
    } catch (const FixupException& e) {
        caught = std::string("caught FixupException error is {") + e.what() + "}";
    } catch (...) {
        caught = "caught an Exception ssh user equivalence setup failed.";
    }
    if (!caught.empty()) {
        reply.hasResultText = false;
        reply.errorText = caught;
        reply.returnValue = 1;
    }
    try {
        if (!caught.empty() && reply.recorded) Trace::trace(kSource, caught);
        // The scratch directory exists only after this call set it up.
        if (reply.recorded && Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH != nullptr) {
            FixupUtil::disposeScratchPad();
        }
    } catch (...) {
    }
    Trace::close();
    RunObjects::releaseAll();
    if (reply.hasResultText) {
        char* copy = copyForHost(reply.resultText);
        if (copy != nullptr) request->resultText = copy;
    }
    if (!reply.errorText.empty()) {
        char* copy = copyForHost(reply.errorText);
        if (copy != nullptr) request->errorMessage = copy;
    }
    return reply.returnValue;
}

static_assert(offsetof(SshEquivalenceRequest, workDir) == 0, "host layout");
static_assert(offsetof(SshEquivalenceRequest, operation) == 8, "host layout");
static_assert(offsetof(SshEquivalenceRequest, inputKeyFile) == 16, "host layout");
static_assert(offsetof(SshEquivalenceRequest, fileToUpdate) == 24, "host layout");
static_assert(offsetof(SshEquivalenceRequest, nodeName) == 32, "host layout");
static_assert(offsetof(SshEquivalenceRequest, resultText) == 40, "host layout");
static_assert(offsetof(SshEquivalenceRequest, errorMessage) == 48, "host layout");
static_assert(offsetof(SshEquivalenceRequest, traceLevel) == 56, "host layout");
static_assert(sizeof(SshEquivalenceRequest) == 64, "host layout");
