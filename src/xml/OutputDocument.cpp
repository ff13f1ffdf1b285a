// The fix-up output document: result elements in the tree, saving the tree,
// and the compact message text.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/NLSError.h"
#include "model/NativeError.h"
#include "model/Result.h"
#include "util/FileIO.h"
#include "util/FixupUtil.h"
#include "xml/XmlParser.h"
#include "xml/XmlText.h"

namespace vxl_fixup {

namespace {

void detail(const std::string& source, const std::string& message) {
    Trace::trace(source, message, TRACE_DETAIL);
}

const XmlNode* firstChild(const XmlNode* node, const std::string& name) {
    return node->findFirstChildByName(name);
}

// The local node's element in a node list, matched as the task factory
// matches participating nodes (short name, any letter case).
XmlNode* localNodeElement(const XmlNode* nodeList) {
    const std::string& localNode = Constants::localNodeNameOrEmpty();
    for (XmlNode* node = nodeList->firstChildNode(); node != nullptr;
         node = node->nextSiblingNode()) {
        const std::string* name = node->getAttributeValue(ATTR_NAME);
        if (name != nullptr && !name->empty() && FixupUtil::hostNamesMatch(localNode, *name)) {
            return node;
        }
    }
    return nullptr;
}

const std::string& statusWord(const Result* result) {
    if (result == nullptr) return VAL_UNKNOWN;
    if (result->isSuccessFul()) return VAL_SUCCESS;
    if (result->isWarning()) return VAL_WARNING;
    if (result->isFailed()) return VAL_FAILURE;
    if (result->isError()) return VAL_ERROR;
    return VAL_UNKNOWN;
}

const std::string& orEmpty(const std::string* s) {
    static const std::string empty;
    return s ? *s : empty;
}

}  // namespace

const XmlParser::OutputPlaces& XmlParser::outputPlaces() {
    const std::string& localNode = Constants::localNodeNameOrEmpty();
    if (m_places && m_places->localNode == localNode) return *m_places;
    m_places.reset(new OutputPlaces());
    m_places->localNode = localNode;
    const XmlNode* taskList = m_root ? firstChild(m_root, TAG_TASK_LIST) : nullptr;
    if (taskList == nullptr) return *m_places;
    // The task factory merges every TASK of one identifier into one task, so
    // the instance index counts across all of them in document order. A TASK
    // is found by any of its ID attributes.
    for (const XmlNode* task = taskList->firstChildNode(); task != nullptr;
         task = task->nextSiblingNode()) {
        if (!task->hasChildNodes()) continue;
        const XmlNode* list = firstChild(task, TAG_FIXUP_DATA_LIST);
        if (list == nullptr) continue;
        std::vector<const std::string*> ids;
        for (const std::string* id : task->getAttributeValues(ATTR_ID)) {
            bool seen = false;
            for (const std::string* known : ids) seen = seen || *known == *id;
            if (!seen) ids.push_back(id);
        }
        for (const XmlNode* element = list->firstChildNode(); element != nullptr;
             element = element->nextSiblingNode()) {
            if (!element->hasChildNodes()) continue;
            const XmlNode* nodeList = firstChild(element, TAG_NODELIST);
            if (nodeList == nullptr || !nodeList->hasChildNodes()) continue;
            XmlNode* local = localNodeElement(nodeList);
            if (local == nullptr) continue;
            for (const std::string* id : ids) m_places->byTask[*id].push_back(local);
        }
    }
    return *m_places;
}

void XmlParser::updateOutPutXMLWithResult(const FixupData* data, Result* result,
                                          const int& instance) {
    static const std::string source = "XmlParser::updateOutPutXMLWithResult";
    // A result is placed for every instance: its lines are built only when
    // they will be written.
    const bool traced = Trace::writes(TRACE_DETAIL);
    if (data == nullptr) return;
    const std::string& taskId = orEmpty(data->getTaskIDStr());
    if (traced) detail(source, "Updating the fix-up output element from result for task " + taskId);
    const OutputPlaces& places = outputPlaces();
    const auto found = places.byTask.find(taskId);
    if (found == places.byTask.end()) {
        if (traced) detail(source, "No Childrens for - " + taskId);
        return;
    }
    if (instance < 0 || static_cast<std::size_t>(instance) >= found->second.size()) {
        if (traced)
            detail(source, "No FIXUP_DATA element names the local node for instance (" +
                               integerToString(instance) + ") of task " + taskId);
        return;
    }
    if (traced)
        detail(source,
               "Found node of interest inside the node list for this task at required index");
    found->second[static_cast<std::size_t>(instance)]->addChildNode(
        createOutputDataXMLNode(result));
}

XmlNode* XmlParser::createOutputDataXMLNode(Result* result) {
    static const std::string source = "XmlParser::createOutputDataXMLNode";
    const bool traced = Trace::writes(TRACE_DETAIL);
    if (traced) detail(source, "Creating fixup output element from result");
    auto output = std::make_unique<XmlNode>(TAG_FIXUP_OUTPUT_DATA, ONLY_BEGIN);
    auto status = std::make_unique<XmlNode>(TAG_STATUS, BEGIN_WITH_END);
    // Result elements refer to the status words and the run's error records
    // (released after the tree) rather than copying them.
    status->referValue(&statusWord(result));
    if (traced) detail(source, "Created Status element based on result");

    const bool hasNlsErrors = result != nullptr && result->hasErrors();
    const bool hasNativeErrors = result != nullptr && result->hasNativeErrors();
    auto details = std::make_unique<XmlNode>(
        TAG_ERROR_DETAILS, hasNlsErrors || hasNativeErrors ? ONLY_BEGIN : BEGIN_AND_END);

    if (hasNativeErrors) {
        if (traced) detail(source, "Result has native errors");
        auto natives = std::make_unique<XmlNode>(TAG_NATIVE_ERRORS, BEGIN_AND_END);
        for (const NativeError* error : result->getNativeErrorList()) {
            if (error == nullptr || error->details == nullptr || error->details->empty()) continue;
            if (traced)
                detail(source, "Added ERROR element with native error as - " + *error->details);
            auto element = std::make_unique<XmlNode>(TAG_ERROR, BEGIN_WITH_END);
            element->referValue(error->details);
            natives->addChildNode(element.release());
        }
        if (natives->hasChildNodes()) {
            if (traced) detail(source, "Created Native Error List Elem based on result");
            details->addChildNode(natives.release());
        } else {
            if (traced)
                detail(
                    source,
                    "Not Created Native Error List Elem as there are no native error messages in "
                    "result");
        }
    }

    if (hasNlsErrors) {
        if (traced) detail(source, "Result has NLS errors");
        auto messages = std::make_unique<XmlNode>(TAG_NLS_MSG_LIST, ONLY_BEGIN);
        for (const NLSError* error : result->getErrorList()) {
            if (error == nullptr) continue;
            std::unique_ptr<XmlNode> message;
            if (!error->arguments.empty()) {
                message = std::make_unique<XmlNode>(TAG_NLS_MSG, ONLY_BEGIN);
                auto argList = std::make_unique<XmlNode>(TAG_NLS_MSG_ARG_LIST, ONLY_BEGIN);
                for (const std::string* argument : error->arguments) {
                    if (argument == nullptr || argument->empty()) continue;
                    auto arg = std::make_unique<XmlNode>(TAG_NLS_MSG_ARG, BEGIN_WITH_END);
                    arg->referValue(argument);
                    argList->addChildNode(arg.release());
                }
                message->addChildNode(argList.release());
            } else {
                message = std::make_unique<XmlNode>(TAG_NLS_MSG, BEGIN_AND_END);
            }
            // The run's error records outlive the output tree, as for the
            // arguments above; the flag's two words are constants.
            static const std::string shown = boolToString(true);
            static const std::string hidden = boolToString(false);
            message->reserveAttributes(3);
            message->referAttribute(ATTR_FACILITY, &orEmpty(error->facility));
            message->referAttribute(ATTR_ID, &orEmpty(error->messageNumber));
            message->referAttribute(ATTR_DISPLAY_ID, error->displayFacility ? &shown : &hidden);
            messages->addChildNode(message.release());
        }
        if (traced) detail(source, "Created NLS error Elem based on result");
        details->addChildNode(messages.release());
    }

    output->addChildNode(status.release());
    output->addChildNode(details.release());
    return output.release();
}

namespace {

// A directory path without its trailing separators ("/" stays "/").
std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

// Opens the output file's directory, creating it (mode 1777: hosts read and
// replace the document as another user, and the sticky bit keeps any other
// user from replacing or removing it) when missing. The work directory may belong
// to another user: a link or anything but a directory planted as the output
// directory is refused, and everything after this goes through the
// descriptor, never the name.
int openOutputDirectory(const std::string& directory) {
    const std::string dir = withoutTrailingSeparators(directory);
    int e = 0;
    const std::string why = unsafePathReason(dir, true, e);
    auto refuse = [&dir](const std::string& reason) {
        return XmlParserException("Refused to use the output directory (" + dir + "): " + reason +
                                  ".");
    };
    if (!why.empty()) throw refuse(why);
    const std::size_t cut = dir.find_last_of("/\\");
    if (dir == "/" || cut == std::string::npos) {
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) throw XmlParserException("Failed to create the directory (" + dir + ")");
        return fd;
    }
    const std::string parent = cut == 0 ? dir.substr(0, 1) : dir.substr(0, cut);
    bool created = false;
    const int fd = openOrCreateDirectory(parent, dir.substr(cut + 1), 01777, created, e);
    if (fd >= 0) return fd;
    if (e == ELOOP) throw refuse("it is a symbolic link");
    if (e == ENOTDIR && !unsafePathReason(dir, true, e).empty()) {
        throw refuse("it is not a directory");
    }
    throw XmlParserException("Failed to create the directory (" + dir + ")");
}

}  // namespace

namespace {

// The directory and name of an output file path.
std::pair<std::string, std::string> splitOutputPath(const std::string& path) {
    // A bare file name lives in the current directory, which exists.
    const std::size_t cut = path.find_last_of("/\\");
    const std::string directory =
        cut == std::string::npos ? "." : (cut == 0 ? path.substr(0, 1) : path.substr(0, cut));
    return {directory, cut == std::string::npos ? path : path.substr(cut + 1)};
}

// The output file createOutputFile made and holds until it is saved.
struct HeldOutputFile {
    std::string path, name;
    int dirFd = -1, fd = -1;
};

HeldOutputFile& heldOutput() {
    static HeldOutputFile held;
    return held;
}

// Closes the held file; removes it too when remove is set.
void releaseHeldOutput(bool remove) {
    HeldOutputFile& held = heldOutput();
    if (held.fd >= 0) ::close(held.fd);
    if (remove && held.dirFd >= 0) ::unlinkat(held.dirFd, held.name.c_str(), 0);
    if (held.dirFd >= 0) ::close(held.dirFd);
    held = HeldOutputFile();
}

// The document as it is saved: header line, tree, line feed; pieces go to
// write until one fails.
void produceDocument(const XmlNode* root, const ContentWriter& write) {
    if (root == nullptr) return;
    if (!write(XML_BEGIN_HEADER + "\n")) return;
    bool ok = true;
    root->writeTo([&](std::string& piece) { ok = ok && write(piece); });
    if (ok) write("\n");
}

}  // namespace

void XmlParser::createOutputFile(const std::string* path) {
    releaseHeldOutput(false);
    if (path == nullptr) return;
    const auto [directory, name] = splitOutputPath(*path);
    const int dirFd = openOutputDirectory(directory);
    // Whatever holds the name goes first (a directory cannot, and then the
    // exclusive create says so).
    ::unlinkat(dirFd, name.c_str(), 0);
    int e = 0;
    const int fd = ::openat(dirFd, name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        e = errno;
        struct stat st {};
        if (e == EEXIST && ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode)) {
            e = EISDIR;  // says more than "File exists"
        }
    }
    // The header line proves there is room before any task changes the node.
    if (fd >= 0 && !writeAllBytes(fd, XML_BEGIN_HEADER + "\n", e)) {
        ::close(fd);
        ::unlinkat(dirFd, name.c_str(), 0);
    } else if (fd >= 0) {
        heldOutput() = HeldOutputFile{*path, name, dirFd, fd};
        return;
    }
    ::close(dirFd);
    throw XmlParserException("failed to open a file at location " + *path + ": " +
                             errorNumberToString(e));
}

void XmlParser::abandonOutputFile() { releaseHeldOutput(true); }

void XmlParser::saveXmlToFile(const std::string* path) {
    if (path == nullptr) return;
    const XmlNode* root = m_root;
    int errorNumber = 0;
    HeldOutputFile& held = heldOutput();
    if (held.fd >= 0 && held.path == *path) {
        // Through the file made at the start of the run: rewritten from its
        // first byte, flushed; a failed write leaves no half document.
        const int fd = held.fd;
        bool ok = ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0;
        if (!ok) errorNumber = errno;
        produceDocument(root, [fd, &ok, &errorNumber](const std::string& piece) {
            ok = ok && writeAllBytes(fd, piece, errorNumber);
            return ok;
        });
        ok = ok && (::fsync(fd) == 0 || ((errorNumber = errno), false));
        const int closed = ::close(fd);
        held.fd = -1;
        ok = ok && (closed == 0 || ((errorNumber = errno), false));
        releaseHeldOutput(!ok);
        if (!ok) {
            throw XmlParserException("failed to write a file at location " + *path + ": " +
                                     errorNumberToString(errorNumber));
        }
    } else {
        const auto [directory, name] = splitOutputPath(*path);
        const int dirFd = openOutputDirectory(directory);
        // Written as it is serialised: the output document is never held whole.
        const bool written = replaceFileInDirectory(
            dirFd, name, [root](const ContentWriter& write) { produceDocument(root, write); },
            errorNumber);
        ::close(dirFd);
        if (!written) {
            throw XmlParserException("failed to open a file at location " + *path + ": " +
                                     errorNumberToString(errorNumber));
        }
    }
    if (m_root == nullptr) throw XmlParserException("XML Parser : root is null, Nothing to save");
}

std::string FixupUtil::nlsErrorToString(NLSError* error) {
    if (error == nullptr) return std::string();
    std::string text = "<NLS_MSG><DISP_FACILITY>" + boolToString(error->displayFacility) +
                       "</DISP_FACILITY><MSG_DATA>";
    for (const std::string* argument : error->arguments) {
        text += "<DATA>" + escapeXmlText(orEmpty(argument)) + "</DATA>";
    }
    text += "</MSG_DATA><FACILITY>" + escapeXmlText(orEmpty(error->facility)) + "</FACILITY><ID>" +
            escapeXmlText(orEmpty(error->messageNumber)) + "</ID></NLS_MSG>";
    return text;
}

std::string FixupUtil::nlsErrorsToString(std::vector<NLSError*> errors) {
    std::string text;
    for (NLSError* error : errors) text += nlsErrorToString(error);
    return text;
}

void FixupUtil::dumpXmlDom(XmlNode* node) {
    static const std::string source = "FixupUtil::dumpXmlDom";
    if (node == nullptr) return;
    detail(source, "NodeName : " + *node->getNodeName());
    detail(source, "NodeValue : " + orEmpty(node->getNodeValue()));
    if (node->hasAttributes()) {
        detail(source, "= Attribute List = ");
        for (const NameValuePair* pair : node->getAttributes()) {
            detail(source, *pair->name + " = " + *pair->value);
        }
    }
    for (XmlNode* child : node->getChildNodes()) dumpXmlDom(child);
}

}  // namespace vxl_fixup
