#include "xml/XmlParser.h"

#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "util/FileIO.h"
#include "util/FixupUtil.h"
#include "xml/XmlText.h"

namespace vxl_fixup {

XmlParser* XmlParser::m_parserObj = nullptr;

namespace {

// Failures that end the whole read instead of costing only the line
// concerned; createTree lets them through.
class XmlParserAbort : public XmlParserException {
public:
    using XmlParserException::XmlParserException;
};

// The reader traces several lines per document line; building them costs more
// than reading, so they are built only when they will be written.
bool detailTraced() { return Trace::getTraceLevel() <= TRACE_DETAIL; }

void detail(const std::string& source, const std::string& message) {
    Trace::trace(source, message, TRACE_DETAIL);
}

std::string number(std::size_t n) { return integerToString(static_cast<int>(n)); }

}  // namespace

std::vector<std::string> documentLines(const std::string& text) {
    std::vector<std::string> kept;
    for (const std::string& line : splitLines(text)) {
        std::string trimmed = FixupUtil::trimWhiteSpaces(line);
        if (!trimmed.empty()) kept.push_back(std::move(trimmed));
    }
    return kept;
}

XmlParser* XmlParser::getInstance(const std::string* path) {
    if (m_parserObj == nullptr) {
        detail("XmlParser::getInstance()", "Xml Parser Instance does not exists creating one");
        m_parserObj = new XmlParser(path);
    }
    return m_parserObj;
}

XmlParser* XmlParser::getInstance() {
    if (m_parserObj == nullptr) {
        detail("XmlParser::getInstance()", "Xml Parser Instance does not exists creating one");
        m_parserObj = new XmlParser();
    }
    return m_parserObj;
}

void XmlParser::dispose() {
    detail("XmlParser::~dispose()", "Disposing XmlParser");
    delete m_parserObj;
    m_parserObj = nullptr;
}

XmlParser::XmlParser(const std::string* path) {
    if (path == nullptr || path->empty()) {
        throw XmlParserException("invalid input xmlfile path exception");
    }
    m_filePath.reset(new std::string(*path));
    m_root = parse();
    detail("XmlParser::XmlParser()", "Constructing XmlParser object");
}

XmlParser::XmlParser() { detail("XmlParser::XmlParser()", "Constructing XmlParser object"); }

XmlParser::~XmlParser() { detail("XmlParser::~XmlParser()", "Destroying XmlParser object"); }

XmlNode* XmlParser::parse() {
    static const std::string source = "XmlParser::parse()";
    const std::string path = m_filePath ? *m_filePath : std::string();
    detail(source, "Parsing " + path);
    std::string content;
    int errorNumber = 0;
    if (!readWholeFile(path, content, errorNumber)) {
        detail(source, "Failed to open input xml file " + path);
        throw XmlParserException("Failed to open input xml file " + path);
    }
    const std::vector<std::string> lines = documentLines(content);
    if (lines.empty()) return nullptr;
    detail(source, "Processing the vector");
    return createTree(lines);
}

XmlNode* XmlParser::createTree(const std::vector<std::string>& lines) {
    auto holder = std::make_unique<XmlNode>(TAG_FIXUP_TREE_ROOT, ONLY_BEGIN);
    std::size_t firstElementLine = 0;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const std::size_t start = index;
        try {
            std::unique_ptr<XmlNode> node = buildNode(lines, index, 1);
            if (!holder->hasChildNodes()) firstElementLine = start;
            holder->addChildNode(node.release());
        } catch (const XmlParserAbort&) {
            throw;
        } catch (const XmlParserException& e) {
            // index stands at the line that could not be read; reading resumes
            // after it at the top level.
            detail("\nXmlParser::createTree()", "Caught XmlParserException - Skipping line " +
                                                    lines[start] + " exception message is {" +
                                                    e.what() + "}");
        }
    }
    if (!holder->hasChildNodes()) {
        throw XmlParserException("Failed to parse xml child " + TAG_VEXEL_FIXUP_ROOT +
                                 " not found Error is {" + ChildNotFoundException().what() + "}");
    }
    // A bare end tag left at the top level by an abandoned root is no root.
    XmlNode* root = nullptr;
    for (XmlNode* element : holder->getChildNodes()) {
        if (*element->getNodeName() == TAG_VEXEL_FIXUP_ROOT && element->getNodeType() != ONLY_END) {
            root = element;
            break;
        }
    }
    if (root == nullptr) {
        throw XmlParserException(
            "Failed to parse xml child " + TAG_VEXEL_FIXUP_ROOT + " not found among the " +
            number(holder->getChildNodesCount()) + " top-level elements; the first is <" +
            *holder->getFirstChildNode()->getNodeName() + "> at input line (" +
            number(firstElementLine) + ")");
    }
    takeTree(std::move(holder), root);
    detail("XmlParser::createTree()", "DOM creation successful");
    return m_root;
}

void XmlParser::takeTree(std::unique_ptr<XmlNode> holder, XmlNode* root) {
    m_tree = std::move(holder);
    m_root = root;
}

XmlNode* XmlParser::createNode(const std::vector<std::string>& lines, std::size_t& index) {
    return buildNode(lines, index, 1).release();
}

std::unique_ptr<XmlNode> XmlParser::buildNode(const std::vector<std::string>& lines,
                                              std::size_t& index, int depth) {
    static const std::string source = "XmlParser::createNode()";
    const bool traced = detailTraced();
    if (index >= lines.size()) {
        throw XmlParserAbort("Failed to parse xml : no input line (" + number(index) + ")");
    }
    const std::string& line = lines[index];
    if (traced) {
        detail("\n" + source,
               "Create node for line (" + number(index) + ") with content" + line);
    }
    const XmlTagType type = getTagType(line);
    if (type == COMMENT_OR_HEADER || type == UNKNOWN_TAG) {
        throw XmlParserException("unknown type for input line (" + number(index) +
                                 ") with content" + line);
    }
    // End tags do not recurse, so only elements count towards the limit.
    if (type != ONLY_END && depth > MAX_NESTING_DEPTH) {
        throw XmlParserAbort("Failed to parse xml : nesting deeper than " +
                             integerToString(MAX_NESTING_DEPTH) + " levels");
    }
    const std::vector<std::string> tokens = getTagData(line, type);
    if (tokens.empty() || tokens.front().empty()) {
        throw XmlParserException(
            "Failed to read Element Name : incorrect format found at input line (" +
            number(index) + ") with content" + line);
    }
    const std::string& name = tokens.front();
    auto node = std::make_unique<XmlNode>(name, type);
    if (traced) detail(source, "Created Node with Tag name " + name);

    for (std::size_t t = 1; t < tokens.size(); ++t) {
        const std::string& token = tokens[t];
        const std::size_t equals = token.find('=');
        if (equals == std::string::npos) continue;
        if (traced) detail(source, "Node " + name + " has attributes " + token);
        if (FixupUtil::splitStringByDelim(token, "=").size() < 2) {
            detail(source,
                   "Failed to add attribute, failed to split the attribute string with equal "
                   "sign");
            continue;
        }
        // Only the first "=" separates: a value may itself contain "=".
        const std::string attributeName = token.substr(0, equals);
        const std::string raw = token.substr(equals + 1);
        std::string value = raw;
        const std::size_t open = raw.find('"');
        if (open != std::string::npos) {
            const std::size_t close = raw.rfind('"');
            value = close > open ? raw.substr(open + 1, close - open - 1) : std::string();
        }
        value = decodeXmlText(value);
        node->addAttribute(attributeName, value);
        if (traced) detail(source, "Adding Attribute Name:" + attributeName + " Value:" + value);
    }

    if (type == ONLY_BEGIN) {
        const std::size_t startLine = index;
        ++index;
        bool closed = false;
        while (index < lines.size()) {
            std::unique_ptr<XmlNode> child = buildNode(lines, index, depth + 1);
            if (child->getNodeType() == ONLY_END && *child->getNodeName() == name) {
                closed = true;
                break;
            }
            if (traced) {
                detail(source, "For Parent =>" + name + " Adding child node by Name => " +
                                   *child->getNodeName());
            }
            node->addChildNode(child.release());
            ++index;
        }
        if (!closed) {
            throw XmlParserAbort("Failed to parse xml : element <" + name +
                                 "> opened at input line (" + number(startLine) +
                                 ") is never closed");
        }
    } else if (type == BEGIN_WITH_END) {
        if (traced) detail(source, "Adding value for this node");
        const std::string value = getTagValue(name, line);
        if (traced) detail(source, "The value retrieved is " + value);
        node->setValue(&value);
    }
    return node;
}

XmlTagType XmlParser::getTagType(const std::string& line) {
    static const std::string source = "XmlParser::getTagType()";
    const bool traced = detailTraced();
    if (traced) detail(source, "Getting tag type for line " + line);
    XmlTagType type;
    const char* description;
    const bool hasBegin = line.find(TOKEN_BEGIN) != std::string::npos;
    if (line.find("<?") != std::string::npos) {
        type = COMMENT_OR_HEADER;
        description = " either comment or header";
    } else if (hasBegin && line.find(TOKEN_BEGIN_AND_END) != std::string::npos) {
        type = BEGIN_AND_END;
        description = " is BEGIN_AND_END <XYZ/>";
    } else if (line.compare(0, TOKEN_BEGIN_WITH_END.size(), TOKEN_BEGIN_WITH_END) == 0) {
        type = ONLY_END;
        description = " is ONLY_END </XYZ>";
    } else if (!hasBegin) {
        type = UNKNOWN_TAG;
        description = " could not be determined";
    } else if (line.find(TOKEN_BEGIN_WITH_END) != std::string::npos) {
        type = BEGIN_WITH_END;
        description = " is BEGIN_WITH_END <XYZ>123</XYZ>";
    } else {
        type = ONLY_BEGIN;
        description = " is ONLY_BEGIN <XYZ>";
    }
    if (traced) detail(source, "Tag type for line " + line + description);
    return type;
}

std::vector<std::string> XmlParser::getTagData(const std::string& line, XmlTagType type) {
    const auto badFormat = [&line] {
        return XmlParserException("incorrect format found at input line " + line);
    };
    if (type == ONLY_END) {
        const std::size_t begin = line.find(TOKEN_BEGIN_WITH_END);
        if (begin == std::string::npos) throw badFormat();
        const std::size_t from = begin + TOKEN_BEGIN_WITH_END.size();
        const std::size_t end = line.find(TOKEN_END, from);
        if (end == std::string::npos) throw badFormat();
        return {line.substr(from, end - from)};
    }
    if (type != ONLY_BEGIN && type != BEGIN_WITH_END && type != BEGIN_AND_END) throw badFormat();
    detail("XmlParser::getTagData()", "Parsing the attributes");
    const std::size_t begin = line.find(TOKEN_BEGIN);
    if (begin == std::string::npos) throw badFormat();
    const std::string& closing = type == BEGIN_AND_END ? TOKEN_BEGIN_AND_END : TOKEN_END;
    const std::size_t end = line.find(closing, begin + 1);
    if (end == std::string::npos) throw badFormat();
    return FixupUtil::splitStringBySpaces(line.substr(begin + 1, end - begin - 1), true);
}

std::string XmlParser::getTagValue(const std::string& /*name*/, const std::string& line) {
    const std::size_t close = line.find(TOKEN_END);
    if (close == std::string::npos) return std::string();
    const std::size_t next = line.find(TOKEN_BEGIN, close + 1);
    if (next == std::string::npos) return std::string();
    return decodeXmlText(line.substr(close + 1, next - close - 1));
}

}  // namespace vxl_fixup
