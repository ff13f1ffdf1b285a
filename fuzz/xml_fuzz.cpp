// Feeds arbitrary bytes to the document reader as a run does: parse, build the
// fix-up data list, write a result for every local instance, serialise. Any
// exception other than XmlParserException, any crash or leak is a finding.
// Two properties are checked on top:
//  - a tree whose names are plain words serialises to a text that reads back
//    to the same text;
//  - the input bytes, used as an element value and an attribute value, come
//    back unchanged from the written document.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "xml/XmlParser.h"

using namespace vxl_fixup;

namespace {

void failure(const char* what) {
    std::fprintf(stderr, "xml_fuzz: %s\n", what);
    std::abort();
}

bool plainWord(const std::string& s) {
    if (s.empty()) return false;
    for (const char c : s) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == ':';
        if (!ok) return false;
    }
    return true;
}

bool plainNames(const XmlNode* node) {
    if (!plainWord(*node->getNodeName())) return false;
    for (const NameValuePair* pair : node->getAttributes()) {
        if (!plainWord(*pair->name)) return false;
    }
    for (const XmlNode* child : node->getChildNodes()) {
        if (!plainNames(child)) return false;
    }
    return true;
}

std::string document(const XmlNode* root) { return XML_BEGIN_HEADER + "\n" + root->toString() + "\n"; }

void runAsTheDriverDoes(const std::string& text, const std::string& bytes) {
    XmlParser* parser = XmlParser::getInstance();
    parser->parseFixupData(&text);
    if (parser->getRoot() == nullptr) return;
    Result result;
    result.setStatus(FAILED);
    const std::string command = "cmd";
    result.setNativeErrorDetails(&command, 1, &bytes);
    result.addError(new NLSError(NLS_FACILITY_VXLF, true, 9028, 1, bytes.c_str()));
    std::map<std::string, int> instances;
    for (FixupData* data : parser->getFixupDataFromXml()) {
        if (!data->appliesToThisNode(Constants::getLocalNodeName())) continue;
        parser->updateOutPutXMLWithResult(data, &result, instances[*data->getTaskIDStr()]++);
    }
    const std::string written = parser->getRoot()->toString();
    if (plainNames(parser->getRoot())) {
        XmlParser again;
        const std::string reread = document(parser->getRoot());
        again.parseFixupData(&reread);
        if (again.getRoot() == nullptr || again.getRoot()->toString() != written) {
            failure("written document does not read back to the same tree");
        }
    }
}

void bytesRoundTrip(const std::string& bytes) {
    XmlNode root(TAG_VEXEL_FIXUP_ROOT, ONLY_BEGIN);
    auto* value = new XmlNode("V", BEGIN_WITH_END);
    value->setValue(&bytes);
    value->addAttribute("A", bytes);
    root.addChildNode(value);
    XmlParser parser;
    const std::string text = document(&root);
    parser.parseFixupData(&text);
    const XmlNode* read = parser.getRoot() ? parser.getRoot()->getFirstChildNode() : nullptr;
    if (read == nullptr) failure("value document lost its element");
    const std::string* readValue = read->getNodeValue();
    if ((readValue ? *readValue : std::string()) != bytes) failure("element value changed");
    const std::string* readAttribute = read->getAttributeValue("A");
    if (readAttribute == nullptr || *readAttribute != bytes) failure("attribute value changed");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Detail traces would fill the disk; the work directory only catches the
    // few lines written at any level.
    const char* tmp = std::getenv("TMPDIR");
    static std::string scratch = std::string(tmp && *tmp ? tmp : "/tmp") + "/xml_fuzz_work.XXXXXX";
    if (::mkdtemp(&scratch[0]) == nullptr) return 0;
    Constants::setWorkDirPath(scratch + "/");
    Constants::setLocalNodeName("node1");
    Trace::setTraceLevel(17);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        runAsTheDriverDoes(bytes, bytes);
    } catch (const XmlParserException&) {
        // The documented outcome of malformed input.
    }
    XmlParser::dispose();
    RunObjects::releaseAll();
    bytesRoundTrip(bytes);
    return 0;
}
