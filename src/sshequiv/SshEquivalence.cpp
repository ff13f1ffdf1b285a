#include "sshequiv/SshEquivalence.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unordered_set>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "util/FileIO.h"
#include "util/FixupUtil.h"
#include "util/ShellQuote.h"
#include "vxlfixup/vxlfixup.h"

namespace vxl_fixup {

namespace {

const std::string kSource = "Main::vxlSetupUserEquivalence";
const int kPublishedKeyMode = 0644;
const int kNewKeyListMode = 0600;

const char* node() { return Constants::localNodeNameOrEmpty().c_str(); }

void addError(Result* result, int number, std::initializer_list<std::string> arguments) {
    NLSError* error = new NLSError(NLS_FACILITY_VXLG, true, number);
    for (const std::string& argument : arguments) error->addArgument(argument);
    result->addError(error);
}

// Why root must not write through or load path: empty when it is absent or
// safe to use. A directory must also be closed to other writers, or another
// user could plant a link in it between the check and the write.
std::string unsafeReason(const std::string& path, bool directory, int& errorNumber) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return std::string();
        errorNumber = errno;
        return "it cannot be examined";
    }
    const std::string wrongKind = wrongKindReason(st, directory, errorNumber);
    if (!wrongKind.empty()) return wrongKind;
    if (st.st_uid != ::geteuid()) {
        errorNumber = EPERM;
        return "it is not owned by the current user";
    }
    if (directory && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        errorNumber = EPERM;
        return "other users can write to it";
    }
    return std::string();
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool isBlankText(const std::string& text) {
    return text.find_first_not_of(" \t") == std::string::npos;
}

bool isVariableName(const std::string& name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
    for (char c : name) {
        const bool ok =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

// The key types a public-key list may name.
const char* const kKeyTypes[] = {"ssh-rsa",
                                 "ssh-dss",
                                 "ssh-ed25519",
                                 "ecdsa-sha2-nistp256",
                                 "ecdsa-sha2-nistp384",
                                 "ecdsa-sha2-nistp521",
                                 "sk-ssh-ed25519@openssh.com",
                                 "sk-ecdsa-sha2-nistp256@openssh.com"};

bool isBase64Character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Reads the regular file at path, never through a link at its last name and
// without blocking on a FIFO. False with errorNumber otherwise (ELOOP for a
// link, EINVAL for anything but a regular file).
bool readRegularFileNoFollow(const std::string& path, std::string& content, int& errorNumber) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        errorNumber = errno;
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) errorNumber = errno;
    if (ok && !S_ISREG(st.st_mode)) {
        errorNumber = EINVAL;
        ok = false;
    }
    char buffer[8192];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            errorNumber = errno;
            ok = false;
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace

bool isPublicKeyLine(const std::string& line) {
    for (const char c : line) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < ' ' && c != '\t') || u == 0x7f) return false;
    }
    const size_t typeEnd = line.find_first_of(" \t");
    if (typeEnd == std::string::npos) return false;
    const std::string type = line.substr(0, typeEnd);
    bool known = false;
    for (const char* candidate : kKeyTypes) known = known || type == candidate;
    if (!known) return false;
    const size_t keyStart = line.find_first_not_of(" \t", typeEnd);
    if (keyStart == std::string::npos) return false;
    const size_t keyEnd = std::min(line.find_first_of(" \t", keyStart), line.size());
    for (size_t i = keyStart; i < keyEnd; ++i) {
        if (!isBase64Character(line[i])) return false;
    }
    return true;
}

bool isUpdatableFileName(const std::string& name, const SshKeyPaths& paths) {
    if (name.empty() || name[0] == '.' || name[0] == '-' || name == "config" ||
        name.find('/') != std::string::npos) {
        return false;
    }
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < ' ' || u == 0x7f) return false;
    }
    for (const std::string* own :
         {&paths.keyFile, &paths.publicKeyFile, &paths.backupKeyFile, &paths.nodeKeyFile,
          &paths.nodePublicKeyFile, &paths.publishedKeyFile}) {
        if (name == baseName(*own)) return false;
    }
    return true;
}

SshKeyPaths::SshKeyPaths(const std::string& home, const std::string& workDir,
                         const std::string& node) {
    const std::string separator = getFilePathSeparator();
    sshDirectory = home + separator + ".ssh";
    keyFile = sshDirectory + separator + RSA_KEY_FILE_NAME;
    publicKeyFile = keyFile + ".pub";
    backupKeyFile = keyFile + ".bkup";
    nodeKeyFile = sshDirectory + separator + node + "." + RSA_KEY_FILE_NAME;
    nodePublicKeyFile = nodeKeyFile + ".pub";
    publishedKeyFile = workDir + separator + node + "." + RSA_KEY_FILE_NAME + ".pub";
}

bool isUsableNodeLabel(const std::string& label) {
    // A host name never starts with "-"; a file name that did would read as
    // an option wherever it stands alone.
    if (label.empty() || label[0] == '-') return false;
    for (char c : label) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_')) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> agentEnvironmentEntries(const std::string& agentOutput) {
    std::vector<std::string> entries;
    for (const std::string& raw : FixupUtil::splitStringByDelim(agentOutput, ";")) {
        // The agent ends each statement with ";" and a line feed; the line
        // feed must not become part of the next variable's name.
        const size_t first = raw.find_first_not_of(" \t\r\n");
        const size_t last = raw.find_last_not_of(" \t\r\n");
        const std::string piece =
            first == std::string::npos ? std::string() : raw.substr(first, last - first + 1);
        const size_t equals = piece.find('=');
        if (equals != std::string::npos && isVariableName(piece.substr(0, equals))) {
            Trace::trace(kSource, "Using Environment variable (" + piece + ")");
            entries.push_back(piece);
        } else {
            Trace::trace(kSource, "Skipping (" + piece + ")");
        }
    }
    return entries;
}

SshEquivalence::SshEquivalence(const SshKeyPaths& paths, Result* result)
    : m_paths(paths), m_result(result) {}

void SshEquivalence::fail(int returnValue, const std::string& errorText) {
    m_result->setStatus(FAILED);
    m_returnValue = returnValue;
    m_errorText = errorText;
    Trace::trace(kSource, errorText);
}

bool SshEquivalence::acceptSshDirectory() {
    const std::string& dir = m_paths.sshDirectory;
    int e = 0;
    const std::string why = unsafeReason(dir, true, e);
    if (why.empty()) return true;
    addError(m_result, 9077, {dir, node(), errorNumberToString(e)});
    fail(1, "Refused to use the directory (" + dir + "): " + why + ".");
    return false;
}

void SshEquivalence::publish(const std::string& publicKey) {
    // Readable by the host that collects it, writable by nobody else: a
    // writable published key could be swapped for another before the host
    // imports it on every node.
    FixupUtil::copyFile(&publicKey, &m_paths.publishedKeyFile, m_result, kPublishedKeyMode);
}

void SshEquivalence::generate() {
    FixupUtil::deleteFileIfExists(&m_paths.nodeKeyFile);
    FixupUtil::deleteFileIfExists(&m_paths.nodePublicKeyFile);
    // No input: ssh-keygen would otherwise wait for an answer to "Overwrite?"
    // when a key file could not be removed.
    const std::string command = std::string(SSH_KEYGEN_CMD) + " -N \"\" -f " +
                                shellQuote(m_paths.nodeKeyFile) + " -t rsa </dev/null";
    const int rc = FixupUtil::runCommand(&command, m_result, false);
    if (rc == 0 && m_result->isSuccessFul()) {
        FixupUtil::deleteFileIfExists(&m_paths.publishedKeyFile);
        publish(m_paths.nodePublicKeyFile);
        return;
    }
    addError(m_result, 9078, {node(), command, m_result->nativeErrorText()});
    fail(0, "Failed to generate the rsa key issuing " + std::string(SSH_KEYGEN_CMD) + " command");
}

void SshEquivalence::reuse() {
    FixupUtil::deleteFileIfExists(&m_paths.publishedKeyFile);
    if (FixupUtil::checkFileExistence(&m_paths.publicKeyFile)) {
        publish(m_paths.publicKeyFile);
        return;
    }
    addError(m_result, 9021, {m_paths.publicKeyFile, node()});
    m_result->setStatus(FAILED);
}

bool SshEquivalence::readImportFile(const std::string& path, std::vector<std::string>& keys) {
    std::string content;
    int e = ENOENT;
    if (path.empty() || !readRegularFileNoFollow(path, content, e)) {
        addError(m_result, 9080, {path, node(), errorNumberToString(e)});
        fail(1, "Failed to open the import key file " + path);
        return false;
    }
    int number = 0;
    for (std::string& line : splitLines(content)) {
        ++number;
        // A key list written on another system may end its lines in CR LF.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (isBlankText(line)) continue;
        // Anything but a bare key (options such as command="...", another
        // file's lines) would grant more than the key, or nothing sensible.
        if (!isPublicKeyLine(line)) {
            addError(m_result, 9031, {});
            fail(1, "Refused the import key file " + path + ": line " + integerToString(number) +
                        " is not a public key line.");
            return false;
        }
        keys.push_back(line);
    }
    return true;
}

void SshEquivalence::update(const char* inputKeyFile, const char* fileToUpdate) {
    importKeys(inputKeyFile, fileToUpdate);
    if (inputKeyFile != nullptr && m_result->isSuccessFul()) {
        const std::string importFile = inputKeyFile;
        FixupUtil::deleteFileIfExists(&importFile);
    }
}

void SshEquivalence::importKeys(const char* inputKeyFile, const char* fileToUpdate) {
    const std::string name = fileToUpdate ? fileToUpdate : "";
    if (inputKeyFile == nullptr || name.empty()) {
        addError(m_result, 9031, {});
        fail(1, "the import key file path is null or an empty string.");
        return;
    }
    if (!isUpdatableFileName(name, m_paths)) {
        // A name, not a path ("../" would leave the SSH directory), and none
        // of the files this library or the SSH client read as their own.
        addError(m_result, 9031, {});
        fail(1, "the file name to update (" + name + ") is not a plain file name.");
        return;
    }
    const std::string target = m_paths.sshDirectory + getFilePathSeparator() + name;
    int e = 0;
    const std::string why = unsafeReason(target, false, e);
    if (!why.empty()) {
        addError(m_result, 9081, {target, node(), errorNumberToString(e)});
        fail(1, "Refused to update the " + name + " file at location " + target + ": " + why + ".");
        return;
    }
    std::vector<std::string> keys;
    if (!readImportFile(inputKeyFile, keys)) return;

    // Existence by lstat: a file that exists but cannot be read must fail,
    // not be replaced by the imported keys alone.
    const bool existed = exists(target);
    std::vector<std::string> content;
    if (!existed) {
        Trace::trace(kSource,
                     "The " + name + " file does not exist. importing all the keys as it is.");
    } else if (!readFileLines(target, content, e)) {
        addError(m_result, 9080, {target, node(), errorNumberToString(e)});
        Trace::trace(kSource, "Failed to read the " + name + " file");
        fail(1, "Failed to read the file " + target);
        return;
    }
    std::unordered_set<std::string> present(content.begin(), content.end());
    for (const std::string& key : keys) {
        if (present.insert(key).second) {
            Trace::trace(kSource, "Key does not exist inside the " + name + " file. Adding.");
            content.push_back(key);
        } else {
            Trace::trace(kSource,
                         "The key already exists inside the " + name + " file. Skipping this key");
        }
    }
    if (content.empty()) return;
    std::string bytes;
    for (const std::string& line : content) bytes += line + "\n";
    // Never truncated by a crash (that would lock the cluster out); a new
    // list is 0600 from its first byte.
    if (writeFileAtomically(target, bytes, e, existed ? -1 : kNewKeyListMode)) return;
    if (existed) {
        addError(m_result, 9081, {target, node(), errorNumberToString(e)});
        fail(1, "Failed to write the " + name + " file at location " + target);
    } else {
        addError(m_result, 9082, {target, node(), errorNumberToString(e)});
        fail(1, "Failed to create the " + name + " file at location " + target);
    }
}

bool SshEquivalence::acceptKeyFile(const std::string& path, const std::string& destination) {
    int e = 0;
    const std::string why = unsafeReason(path, false, e);
    if (why.empty()) return true;
    addError(m_result, 9087, {path, destination, node(), errorNumberToString(e)});
    fail(1, "Refused to use the key file " + path + ": " + why + ".");
    return false;
}

void SshEquivalence::refresh() {
    const SshKeyPaths& p = m_paths;
    // What becomes the user's key, or is loaded into the agent, is never
    // reached through a link.
    if (!acceptKeyFile(p.nodeKeyFile, p.keyFile) ||
        !acceptKeyFile(p.nodePublicKeyFile, p.publicKeyFile) ||
        !acceptKeyFile(p.keyFile, p.backupKeyFile)) {
        return;
    }
    if (FixupUtil::checkFileExistence(&p.nodeKeyFile)) {
        if (FixupUtil::checkFileExistence(&p.keyFile)) {
            FixupUtil::deleteFileIfExists(&p.backupKeyFile);
            Result backup;  // a failed backup does not stop the refresh
            FixupUtil::renameFile(&p.keyFile, &p.backupKeyFile, &backup);
        }
        FixupUtil::renameFile(&p.nodeKeyFile, &p.keyFile, m_result);
    }
    if (FixupUtil::checkFileExistence(&p.nodePublicKeyFile)) {
        FixupUtil::deleteFileIfExists(&p.publicKeyFile);
        FixupUtil::renameFile(&p.nodePublicKeyFile, &p.publicKeyFile, m_result);
    }
    if (!m_result->isSuccessFul()) {
        fail(1, "Failed to put the key pair of this node in place in " + p.sshDirectory);
        return;
    }
    if (!FixupUtil::checkFileExistence(&p.keyFile)) return;

    Trace::trace(kSource, "private key file exists. updating the ssh agent.");
    // True when the command failed; its exit code becomes the return value.
    auto failed = [this](const std::string& command, int rc, const std::string& what) {
        if (rc == 0 && m_result->isSuccessFul()) return false;
        addError(m_result, 9079, {node(), command, m_result->nativeErrorText()});
        fail(rc != 0 ? rc : 1, what + " by issuing " + std::string(SSH_ADD_CMD) + " command.");
        return true;
    };
    const std::string agent = std::string(SSH_AGENT_CMD) + " -s";
    if (failed(agent, FixupUtil::runCommand(&agent, m_result, false),
               "Failed to initialize the ssh agent shell environment to add newly generated "
               "keys")) {
        return;
    }
    const std::string* output = m_result->getOutput();
    const std::vector<std::string> entries =
        agentEnvironmentEntries(output != nullptr ? *output : std::string());
    std::vector<const std::string*> environment;
    for (const std::string& entry : entries) environment.push_back(&entry);

    const std::string add = std::string(SSH_ADD_CMD) + " " + shellQuote(p.keyFile);
    failed(add, FixupUtil::runCommand(&add, environment, m_result, false),
           "Failed to update the ssh agent with newly generated keys");
}

}  // namespace vxl_fixup
