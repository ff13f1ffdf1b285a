#include "Plan.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "CommandLine.h"
#include "PlanReport.h"
#include "UnifiedDiff.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "sandbox/NodeCopy.h"
#include "util/FileIO.h"
#include "vxlfixup/vxlfixup.h"
#include "xml/XmlNode.h"
#include "xml/XmlParser.h"

extern char** environ;

namespace vxl_cli {

using vxl_fixup::startsWith;

namespace {

using vxl_fixup::FileChange;
using vxl_fixup::NodeCopy;
using vxl_fixup::NodeFile;
using vxl_fixup::NodeResult;

const char* const kClockSourceFile =
    "/sys/devices/system/clocksource/clocksource0/current_clocksource";
const char* const kCommandMarker = "sFixupUtil::runCommandInternal - Executing command ";
const char* const kOutputMarker = "output document: ";
constexpr std::chrono::hours kTimeLimit{1};

// Tools whose effect leaves the file system: the copy records their calls.
const char* const kServiceTools[] = {
    "/bin/systemctl",  "/usr/bin/systemctl",  "/sbin/service",         "/usr/sbin/service",
    "/sbin/chkconfig", "/usr/sbin/chkconfig", "/etc/init.d/kelvaneqvr"};
const char* const kSysctls[] = {"/sbin/sysctl", "/usr/sbin/sysctl"};
// The package tools' databases: named, never diffed.
const char* const kPackageDatabases[] = {"/var/lib/rpm/", "/usr/lib/sysimage/rpm/"};
// File systems that hold no files of the node.
const std::set<std::string> kPseudoFileSystems = {
    "proc",     "sysfs",      "devtmpfs", "devpts",    "tmpfs",      "cgroup",
    "cgroup2",  "mqueue",     "debugfs",  "tracefs",   "securityfs", "pstore",
    "bpf",      "configfs",   "fusectl",  "hugetlbfs", "autofs",     "binfmt_misc",
    "efivarfs", "rpc_pipefs", "nsfs",     "ramfs",     "selinuxfs"};

struct Options {
    std::string document, node, workDir, output, format = "text";
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

// Blanks and tabs alike, as the kernel reads a value.
std::string words(const std::string& text) {
    std::istringstream in(text);
    std::string out;
    for (std::string w; in >> w;) out += (out.empty() ? "" : " ") + w;
    return out;
}

// The values of every DATA item of the document with this name.
std::vector<std::string> dataValues(const std::string& document, const std::string& name) {
    std::vector<std::string> values;
    vxl_fixup::XmlParser::dispose();
    try {
        vxl_fixup::XmlParser* parser = vxl_fixup::XmlParser::getInstance();
        parser->parseFixupData(&document);
        std::vector<const vxl_fixup::XmlNode*> pending;
        if (parser->getRoot()) pending.push_back(parser->getRoot());
        while (!pending.empty()) {
            const vxl_fixup::XmlNode* node = pending.back();
            pending.pop_back();
            const std::string* item = node->getAttributeValue(vxl_fixup::ATTR_NAME);
            const std::string* value = node->getAttributeValue(vxl_fixup::ATTR_VAL);
            if (*node->getNodeName() == vxl_fixup::TAG_DATA && item && *item == name && value) {
                values.push_back(*value);
            }
            for (const vxl_fixup::XmlNode* child : node->getChildNodes()) pending.push_back(child);
        }
    } catch (...) {
        // The library reports a document it cannot read when it runs it.
    }
    vxl_fixup::XmlParser::dispose();
    return values;
}

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? resolved : std::string();
}

// Mount points whose files the copy (the root file system) does not hold.
std::vector<std::string> otherFileSystems() {
    std::vector<std::string> points;
    std::ifstream in("/proc/self/mountinfo");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point, word;
        fields >> id >> parent >> device >> root >> point;
        while (fields >> word && word != "-") {
        }
        std::string type;
        fields >> type;
        if (point == "/" || kPseudoFileSystems.count(type)) continue;
        if (startsWith(point, "/proc/") || startsWith(point, "/sys/") ||
            startsWith(point, "/dev/") || startsWith(point, "/run/")) {
            continue;
        }
        if (std::find(points.begin(), points.end(), point) == points.end()) {
            points.push_back(point);
        }
    }
    return points;
}

// The copy of this machine the document runs in; recorded tools are the ones
// whose calls the report lists.
struct PlanCopy {
    NodeCopy node;
    std::set<std::string> recorders;
};

void addRecorder(PlanCopy& copy, std::set<std::string>& seen, const std::string& path,
                 const std::vector<std::string>& passThrough = {}) {
    struct stat st {};
    const std::string real = realPath(path);
    // A tool this machine lacks stays missing, as it would for a run.
    if (real.empty() || ::stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    if (!seen.insert(real).second) return;
    copy.node.addRecorder(path, passThrough);
    copy.recorders.insert(path);
}

// A work directory on a file system of its own is not in the copy, which
// holds the root file system: it comes in with the files directly in it
// (the fix-up scripts).
void addWorkDirOfItsOwn(NodeCopy& node, const std::string& workDir) {
    struct stat root {
    }, dir{};
    if (::stat("/", &root) != 0 || ::stat(workDir.c_str(), &dir) != 0 ||
        dir.st_dev == root.st_dev) {
        return;
    }
    node.addDirectory(workDir, dir.st_mode & 07777, dir.st_uid, dir.st_gid);
    DIR* listing = ::opendir(workDir.c_str());
    while (struct dirent* e = listing ? ::readdir(listing) : nullptr) {
        const std::string path = workDir + e->d_name;
        std::string content;
        int errorNumber = 0;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            vxl_fixup::readWholeFile(path, content, errorNumber)) {
            node.addFile(path, content, st.st_mode & 07777, st.st_uid, st.st_gid);
        }
    }
    if (listing != nullptr) ::closedir(listing);
}

void buildCopy(PlanCopy& copy, const Options& o, const std::string& documentText, bool newWorkDir) {
    NodeCopy& node = copy.node;
    node.viewMachine().setTimeout(kTimeLimit);
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const size_t eq = entry.find('=');
        if (eq != std::string::npos && eq > 0)
            node.setEnv(entry.substr(0, eq), entry.substr(eq + 1));
    }
    // The document as read here, wherever it lies.
    node.addFile(o.document, documentText, 0600);
    if (newWorkDir) {
        node.addDirectory(o.workDir, 0700);
    } else {
        addWorkDirOfItsOwn(node, o.workDir);
    }
    std::set<std::string> seen;
    for (const char* path : kSysctls) {
        const std::string real = realPath(path);
        if (!real.empty() && seen.insert(real).second) node.addRecordingSysctl(path);
    }
    for (const char* path : kServiceTools) addRecorder(copy, seen, path);
    for (const std::string& home : dataValues(documentText, "QHMHOME")) {
        if (home.empty() || home[0] != '/') continue;
        // membview only lists; of rescmd only status reads.
        addRecorder(copy, seen, withSlash(home) + "bin/qhmctl");
        addRecorder(copy, seen, withSlash(home) + "bin/rescmd", {"status"});
    }
    std::string clockSource;
    int errorNumber = 0;
    struct stat st {};
    if (::stat(kClockSourceFile, &st) == 0 &&
        vxl_fixup::readWholeFile(kClockSourceFile, clockSource, errorNumber)) {
        node.addFile(kClockSourceFile, clockSource, st.st_mode & 07777, st.st_uid, st.st_gid);
    }
}

// Runs the library in the copy as "vxlfixup run" would; prints the output
// document's path and the error text.
int runLibrary(const Options& o) {
    std::vector<char> work(o.workDir.begin(), o.workDir.end()),
        data(o.document.begin(), o.document.end()), name(o.node.begin(), o.node.end());
    for (auto* v : {&work, &data, &name}) v->push_back('\0');
    vxlfixup record{};
    record.workDir = work.data();
    record.dataFile = data.data();
    record.nodeName = name.data();
    record.traceLevel = 0;  // the commands come from the trace
    const int rc = vxlRunFixup(&record);
    if (record.errorMessage != nullptr) {
        std::cerr << record.errorMessage << "\n";
        vxlFixupMemFree(record.errorMessage);
    }
    if (record.outputFile != nullptr) {
        std::cout << kOutputMarker << record.outputFile << "\n";
        vxlFixupMemFree(record.outputFile);
    }
    return rc;
}

// What the library appended to its trace files in the copy.
std::string traceOfRun(const NodeResult& r, const std::string& workDir) {
    std::string text;
    for (int n = 0;; ++n) {
        const std::string path = workDir + vxl_fixup::FIXUP_NATIVE_TRACE_FILE_PREFIX + "_" +
                                 std::to_string(n) + vxl_fixup::FIXUP_NATIVE_TRACE_FILE_EXTN;
        const std::optional<std::string> after = r.fileContent(path);
        if (!after) break;
        const std::optional<NodeFile> before = r.fileBefore(path);
        const std::string old = before ? before->content : std::string();
        text += startsWith(*after, old) ? after->substr(old.size()) : *after;
    }
    return text;
}

std::vector<std::string> commandsOf(const std::string& trace) {
    std::vector<std::string> commands;
    const std::string marker = kCommandMarker;
    for (const std::string& line : lines(trace)) {
        if (!startsWith(line, marker)) continue;
        std::string command = line.substr(marker.size());
        // The runner's redirections into its scratch files are no part of it.
        const size_t errors = command.rfind(" 2>");
        const size_t output = errors == std::string::npos ? errors : command.rfind(" >", errors);
        if (output != std::string::npos) command.erase(output);
        commands.push_back(command);
    }
    return commands;
}

// "name" of an id in the account file text, or the number.
std::string accountName(unsigned id, const std::optional<std::string>& file) {
    for (const std::string& line : lines(file.value_or(""))) {
        std::istringstream fields(line);
        std::string name, password, number;
        if (std::getline(fields, name, ':') && std::getline(fields, password, ':') &&
            std::getline(fields, number, ':') && number == std::to_string(id)) {
            return name;
        }
    }
    return std::to_string(id);
}

std::string kindOf(const NodeFile& f, const std::string& path) {
    switch (f.type) {
        case NodeFile::Type::Directory:
            return "directory";
        case NodeFile::Type::Symlink:
            return "symlink";
        case NodeFile::Type::Other:
            return "other";
        case NodeFile::Type::Regular:
            break;
    }
    for (const char* db : kPackageDatabases) {
        if (startsWith(path, db)) return "package database";
    }
    if (path.find("/.rpmdb/") != std::string::npos) return "package database";  // a user's own
    if ((f.mode & S_IROTH) == 0) return "private";
    if (f.content.find('\0') != std::string::npos) return "binary";
    return "text";
}

class FileReport {
public:
    explicit FileReport(const NodeResult& r)
        : r_(r),
          passwd_{before(r, "/etc/passwd"), r.fileContent("/etc/passwd")},
          group_{before(r, "/etc/group"), r.fileContent("/etc/group")} {}

    PlannedFile describe(const FileChange& change) const {
        PlannedFile p;
        p.path = change.path;
        p.change = vxl_fixup::toString(change.kind);
        const std::optional<NodeFile> before = r_.fileBefore(change.path);
        const std::optional<NodeFile> after = r_.file(change.path);
        const NodeFile* now = after ? &*after : before ? &*before : nullptr;
        if (now == nullptr) return p;
        p.kind = kindOf(*now, change.path);
        // A file that was private before stays unshown after a chmod.
        if (before && after && kindOf(*before, change.path) == "private") p.kind = "private";
        std::vector<std::string> details;
        if (change.kind == FileChange::Kind::Created) {
            if (now->type == NodeFile::Type::Symlink) details.push_back("-> " + now->content);
            details.push_back("mode " + octal(now->mode) + ", owner " + owner(*now, false));
        } else if (before && after) {
            if (before->type != after->type) details.push_back("was a " + kindOf(*before, p.path));
            if (before->mode != after->mode) {
                details.push_back("mode " + octal(before->mode) + " -> " + octal(after->mode));
            }
            if (before->uid != after->uid || before->gid != after->gid) {
                details.push_back("owner " + owner(*before, true) + " -> " + owner(*after, false));
            }
            if (before->type == NodeFile::Type::Symlink && after->type == before->type &&
                before->content != after->content) {
                details.push_back("-> " + after->content + " (was -> " + before->content + ")");
            }
        }
        for (const std::string& d : details) p.details += (p.details.empty() ? "" : ", ") + d;
        if (p.kind == "text") {
            const bool hadText = before && change.kind != FileChange::Kind::Created &&
                                 kindOf(*before, p.path) == "text";
            const bool hasText = after && change.kind != FileChange::Kind::Deleted;
            const std::string diff = unifiedDiff(hadText ? before->content : std::string(),
                                                 hasText ? after->content : std::string());
            if (!diff.empty()) {
                p.diff = (hadText ? "--- a" + p.path : std::string("--- /dev/null")) + "\n" +
                         (hasText ? "+++ b" + p.path : std::string("+++ /dev/null")) + "\n" + diff;
            }
        }
        return p;
    }

private:
    static std::string octal(mode_t mode) {
        char text[8];
        std::snprintf(text, sizeof text, "%o", static_cast<unsigned>(mode));
        return text;
    }
    static std::optional<std::string> before(const NodeResult& r, const char* path) {
        const std::optional<NodeFile> old = r.fileBefore(path);
        return old ? std::optional<std::string>(old->content) : std::nullopt;
    }
    // Names as the account files said before the run, or after it.
    std::string owner(const NodeFile& f, bool beforeRun) const {
        return accountName(f.uid, passwd_[beforeRun ? 0 : 1]) + ":" +
               accountName(f.gid, group_[beforeRun ? 0 : 1]);
    }
    const NodeResult& r_;
    const std::optional<std::string> passwd_[2], group_[2];  // before, after
};

// "/sbin/service [avahi-daemon] [stop]" -> its words.
std::vector<std::string> callWords(const std::string& line) {
    std::vector<std::string> words;
    size_t open = line.find(" [");
    words.push_back(line.substr(0, open));
    while (open != std::string::npos) {
        size_t close = line.find("] [", open + 2);
        if (close == std::string::npos) close = line.size() - 1;
        words.push_back(line.substr(open + 2, close - open - 2));
        open = close + 1 < line.size() ? close + 1 : std::string::npos;
    }
    return words;
}

void collect(PlanReport& report, const NodeResult& r, const PlanCopy& copy,
             const std::string& workDir) {
    for (const std::string& line : lines(r.stdoutText)) {
        if (startsWith(line, kOutputMarker))
            report.outputDocument = line.substr(strlen(kOutputMarker));
    }
    report.error = trimmed(r.stderrText);
    if (!report.outputDocument.empty()) {
        std::string why;
        const std::string text = r.fileContent(report.outputDocument).value_or("");
        if (!readOutcomesFromText(text, report.outputDocument, report.outcomes, why)) {
            report.error += (report.error.empty() ? "" : "; ") + why;
        }
    }
    report.commands = commandsOf(traceOfRun(r, workDir));
    const FileReport files(r);
    const std::string workFolder = workDir.substr(0, workDir.size() - 1);
    for (const FileChange& change : r.changes()) {
        if (change.path == workFolder || startsWith(change.path, workDir)) continue;
        if (startsWith(change.path, "/sys/")) {
            // A kernel control file: a value, not a file, read as the kernel
            // reads it.
            const std::string before =
                trimmed(r.fileBefore(change.path).value_or(NodeFile{}).content);
            const std::string after = trimmed(r.fileContent(change.path).value_or(""));
            if (words(before) != words(after)) {
                report.kernelValues.push_back({change.path, before, after});
            }
            continue;
        }
        report.files.push_back(files.describe(change));
    }
    for (const vxl_fixup::KernelWrite& w : r.kernelWrites()) {
        if (words(w.before) != words(w.after))
            report.kernelValues.push_back({w.key, w.before, w.after});
    }
    for (const std::string& line : r.commandLog()) {
        std::vector<std::string> call = callWords(line);
        if (copy.recorders.count(call[0])) report.recordedCalls.push_back(std::move(call));
    }
    report.limits = planLimits(report.outcomes);
    const std::vector<std::string> others = otherFileSystems();
    if (!others.empty()) {
        std::string list;
        for (const std::string& p : others) list += (list.empty() ? "" : ", ") + p;
        report.limits.push_back(
            {"", "the copy holds this machine's root file system only: " + list +
                     " (file systems of their own) are empty in it, so what "
                     "a task finds or changes there shows only in a run."});
    }
}

// Writes content at rel under the directory dirFd, making its directories;
// nothing is followed through a symbolic link.
bool writeUnder(int dirFd, const std::string& rel, const std::string& content, mode_t mode,
                bool symlink) {
    std::vector<std::string> parts;
    std::istringstream in(rel);
    for (std::string part; std::getline(in, part, '/');) {
        if (!part.empty()) parts.push_back(part);
    }
    if (parts.empty()) return false;
    int fd = ::dup(dirFd);
    for (size_t i = 0; fd >= 0 && i + 1 < parts.size(); ++i) {
        ::mkdirat(fd, parts[i].c_str(), 0755);
        const int next = ::openat(fd, parts[i].c_str(), O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    if (fd < 0) return false;
    bool ok;
    if (symlink) {
        ok = ::symlinkat(content.c_str(), fd, parts.back().c_str()) == 0;
    } else {
        const int out = ::openat(fd, parts.back().c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777);
        ok = out >= 0 &&
             ::write(out, content.data(), content.size()) == static_cast<ssize_t>(content.size());
        if (out >= 0) ok = ::close(out) == 0 && ok;
    }
    ::close(fd);
    return ok;
}

// --output DIR: the output document, the run's trace and, under files/, every
// file the run created or changed as the copy holds it.
bool keepCopy(const std::string& dir, const PlanReport& report, const NodeResult& r,
              const std::string& workDir, std::string& why) {
    if (::mkdir(dir.c_str(), 0700) != 0) {
        why = "cannot create " + dir + ": " + std::strerror(errno);
        return false;
    }
    const int dirFd = ::open(dir.c_str(), O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    bool ok = dirFd >= 0;
    const std::string& output = report.outputDocument;
    if (ok && !output.empty()) {
        ok = writeUnder(dirFd, output.substr(output.rfind('/') + 1),
                        r.fileContent(output).value_or(""), 0644, false);
    }
    if (ok) ok = writeUnder(dirFd, "trace.log", traceOfRun(r, workDir), 0644, false);
    for (const PlannedFile& f : report.files) {
        const std::optional<NodeFile> now = r.file(f.path);
        if (!ok || f.change == "deleted" || !now) continue;
        if (now->type == NodeFile::Type::Regular || now->type == NodeFile::Type::Symlink) {
            ok = writeUnder(dirFd, "files" + f.path, now->content, now->mode,
                            now->type == NodeFile::Type::Symlink);
        }
    }
    if (dirFd >= 0) ::close(dirFd);
    if (!ok) why = "cannot write the copy's files into " + dir + ": " + std::strerror(errno);
    return ok;
}

bool parseOptions(const std::vector<std::string>& args, Options& o, int& rc) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) { return vxl_cli::optionValue(args, i, into); };
        if (a == "--node") {
            if (!value(o.node)) return (rc = usageError("--node needs a name")), false;
        } else if (a == "--work-dir") {
            if (!value(o.workDir)) return (rc = usageError("--work-dir needs a directory")), false;
        } else if (a == "--output") {
            if (!value(o.output)) return (rc = usageError("--output needs a directory")), false;
        } else if (a == "--format") {
            if (!value(o.format) || (o.format != "text" && o.format != "json")) {
                return (rc = usageError("--format needs text or json")), false;
            }
        } else if (!a.empty() && a[0] == '-') {
            return (rc = usageError("unknown option " + a + " for plan")), false;
        } else if (o.document.empty()) {
            o.document = a;
        } else {
            return (rc = usageError("more than one document given")), false;
        }
    }
    if (o.document.empty()) return (rc = usageError("plan needs a DOCUMENT.xml")), false;
    return true;
}

}  // namespace

int plan(const std::vector<std::string>& args) {
    Options o;
    int rc = 2;
    if (!parseOptions(args, o, rc)) return rc;
    if (::geteuid() != 0) {
        std::cerr << "vxlfixup: plan needs root: it runs the document in a copy of this machine "
                     "(an overlay of / in namespaces of its own), which only root can make\n";
        return 2;
    }
    std::string documentText;
    int errorNumber = 0;
    if (!vxl_fixup::readWholeFile(o.document, documentText, errorNumber)) {
        std::cerr << "vxlfixup: cannot read " << o.document << ": " << std::strerror(errorNumber)
                  << "\n";
        return 2;
    }
    o.document = absolute(o.document);
    if (o.node.empty()) o.node = shortHostName();
    bool newWorkDir = o.workDir.empty();
    o.workDir = withSlash(newWorkDir ? defaultWorkDir() : absolute(o.workDir));
    if (!newWorkDir && vxl_cli::nothingAt(o.workDir)) {
        // A run would create it; the plan does so in the copy only.
        const std::string why = vxl_cli::whyNotCreatable(o.workDir);
        if (!why.empty()) {
            std::cerr << "vxlfixup: " << why << "\n";
            return 2;
        }
        newWorkDir = true;
    } else if (!newWorkDir && !isDirectory(o.workDir)) {
        std::cerr << "vxlfixup: work directory " << o.workDir << " is not a directory\n";
        return 2;
    }
    if (startsWith(o.workDir, "/dev/") || startsWith(o.workDir, "/proc/") ||
        startsWith(o.workDir, "/sys/")) {
        std::cerr << "vxlfixup: work directory " << o.workDir
                  << " lies where the copy has its own devices and kernel files; give another\n";
        return 2;
    }
    if (!o.output.empty()) {
        o.output = absolute(o.output);
        struct stat st {};
        if (::lstat(o.output.c_str(), &st) == 0) {
            std::cerr << "vxlfixup: --output " << o.output << " exists; give a new directory\n";
            return 2;
        }
    }

    PlanCopy copy;
    buildCopy(copy, o, documentText, newWorkDir);
    const NodeResult r = copy.node.runFunction([&o] { return runLibrary(o); });
    if (!r.ran()) {
        std::cerr << "vxlfixup: cannot make a copy of this machine: " << r.setupError << "\n";
        return 2;
    }
    if (r.timedOut) {
        std::cerr << "vxlfixup: the plan was stopped after " << kTimeLimit.count() << " hour\n";
        return 2;
    }
    PlanReport report;
    report.document = o.document;
    report.node = o.node;
    report.exitCode = r.exitCode;
    collect(report, r, copy, o.workDir);
    if (o.format == "json") {
        printPlanJson(report, std::cout);
    } else {
        printPlanText(report, std::cout);
    }
    std::string why;
    if (!o.output.empty() && !keepCopy(o.output, report, r, o.workDir, why)) {
        std::cerr << "vxlfixup: " << why << "\n";
        return 2;
    }
    return report.exitCode;
}

}  // namespace vxl_cli
