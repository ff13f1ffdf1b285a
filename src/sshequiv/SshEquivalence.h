// The four SSH user-equivalence operations for the user the process runs as:
// generate or reuse a key pair and publish its public key, import public keys
// into a file of the SSH directory, and make the node's key pair the default
// one, loaded into a new agent. The OpenSSH tools do the cryptography; this
// code only moves, copies and concatenates key files.
//
// Root never writes through a link another user planted: an SSH directory
// that is a symbolic link, is not a directory, belongs to another user or is
// writable by others is refused before anything is written, and so are key
// files and update targets that are links or belong to another user.
#pragma once

#include <string>
#include <vector>

namespace vxl_fixup {

class Result;

// The files of one call. node must be a checked host-name label
// (isUsableNodeLabel): it becomes part of file names.
struct SshKeyPaths {
    SshKeyPaths(const std::string& home, const std::string& workDir, const std::string& node);

    std::string sshDirectory;       // HOME/.ssh
    std::string keyFile;            // .ssh/id_rsa
    std::string publicKeyFile;      // .ssh/id_rsa.pub
    std::string backupKeyFile;      // .ssh/id_rsa.bkup
    std::string nodeKeyFile;        // .ssh/NODE.id_rsa
    std::string nodePublicKeyFile;  // .ssh/NODE.id_rsa.pub
    std::string publishedKeyFile;   // workDir/NODE.id_rsa.pub
};

// True for a non-empty text of a-z, 0-9, "-" and "_" only, not starting with
// "-": a node name that can be part of a file name and never names a path, an
// option or a shell construct.
bool isUsableNodeLabel(const std::string& label);

// The NAME=value entries of ssh-agent's "-s" output, in order: the output is
// split at ";", each piece trimmed of blanks, tabs and line ends, and kept
// when it is NAME=value with a valid variable name. Each piece is traced as
// used or skipped.
std::vector<std::string> agentEnvironmentEntries(const std::string& agentOutput);

// True for one line of a public-key list that grants nothing but the key: a
// known key type, one blank-separated word of base64 characters, then an
// optional comment; no options prefix and no control character.
bool isPublicKeyLine(const std::string& line);

// True when name may be the file UPDATE writes in the SSH directory: a bare
// file name (no "/", not starting with "." or "-", no control character)
// that is neither one of the key files of paths nor "config".
bool isUpdatableFileName(const std::string& name, const SshKeyPaths& paths);

// One operation's run. The operations record message errors and the status in
// the Result (which the caller owns and starts SUCCESSFUL) and leave the error
// text and the return value for the host here. Commands need the scratch pad.
class SshEquivalence {
public:
    SshEquivalence(const SshKeyPaths& paths, Result* result);

    // Refuses (message Vxlg 9077, FAILED, return value 1) an SSH directory
    // that is a link, not a directory, another user's, or writable by group
    // or others. A missing one is accepted: the caller creates it 0700.
    bool acceptSshDirectory();

    // New pair at the node key file, published with mode 0644. Failures show
    // in the Result and the error text only; the return value stays 0.
    void generate();
    // Publishes the existing public key (mode 0644); a missing one is Vxlg
    // 9021. The return value stays 0.
    void reuse();
    // Appends the import file's keys missing from the SSH directory's file
    // fileToUpdate (or creates it 0600 with them), through the crash-safe
    // rewrite, then deletes the import file. The import file is opened
    // without following a link and must be a regular file whose every
    // non-blank line isPublicKeyLine; fileToUpdate must be
    // isUpdatableFileName. Blank lines are skipped and line-end CRs dropped
    // from imported keys; a key repeated in the import file is added once.
    // Return value 1 on any failure (a refused line is named by its number);
    // nothing is written and the import file is kept, so that the next call
    // can still import its keys.
    void update(const char* inputKeyFile, const char* fileToUpdate);
    // Node key pair becomes id_rsa(.pub), the old id_rsa kept as id_rsa.bkup;
    // the key file is loaded into a new agent whose variables are set in this
    // process. A failing agent command's exit code is the return value.
    void refresh();

    const std::string& errorText() const { return m_errorText; }
    int returnValue() const { return m_returnValue; }

private:
    // Adds the message and FAILED, records the error text (traced) and the
    // return value.
    void fail(int returnValue, const std::string& errorText);
    void publish(const std::string& publicKey);
    void importKeys(const char* inputKeyFile, const char* fileToUpdate);
    bool readImportFile(const std::string& path, std::vector<std::string>& keys);
    bool acceptKeyFile(const std::string& path, const std::string& destination);

    const SshKeyPaths& m_paths;
    Result* m_result;
    std::string m_errorText;
    int m_returnValue = 0;
};

}  // namespace vxl_fixup
