#include "xml/XmlParser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "util/FileIO.h"
#include "util/FixupUtil.h"
#include "xml/XmlText.h"
#include "xml/XmlValueSharing.h"

namespace vxl_fixup {

XmlParser* XmlParser::m_parserObj = nullptr;

namespace {

// Failures that end the whole read instead of costing only the line
// concerned; createTree lets them through.
class XmlParserAbort : public XmlParserException {
public:
    using XmlParserException::XmlParserException;
};

void detail(const std::string& source, const std::string& message) {
    Trace::trace(source, message, TRACE_DETAIL);
}

std::string number(std::size_t n) { return integerToString(static_cast<int>(n)); }

// The reader's view of a document's lines: split at line feeds, trimmed of
// blanks and tabs, empty lines dropped.
class TrimmedLines : public DocumentLines {
public:
    bool next(std::string& line) override {
        while (nextRaw(m_raw)) {
            if (m_raw.find_first_of(" \t") == std::string::npos) {
                if (m_raw.empty()) continue;
                line.swap(m_raw);
            } else {
                line = FixupUtil::trimWhiteSpaces(m_raw);
                if (line.empty()) continue;
            }
            return true;
        }
        return false;
    }

protected:
    // The next line as it stands in the document, without its line feed.
    virtual bool nextRaw(std::string& line) = 0;

private:
    std::string m_raw;
};

// Lines of a document text held by the caller.
class TextLines : public TrimmedLines {
public:
    explicit TextLines(const std::string& text) : m_text(text) {}

protected:
    bool nextRaw(std::string& line) override {
        if (m_position >= m_text.size()) return false;
        std::size_t end = m_text.find('\n', m_position);
        if (end == std::string::npos) end = m_text.size();
        line.assign(m_text, m_position, end - m_position);
        m_position = end + 1;
        return true;
    }

private:
    const std::string& m_text;
    std::size_t m_position = 0;
};

// Lines of a file, read in blocks: the file's text is never held whole.
class FileLines : public TrimmedLines {
public:
    FileLines(const std::string& path, int fd) : m_path(path), m_fd(fd) {}
    ~FileLines() override { ::close(m_fd); }
    FileLines(const FileLines&) = delete;
    FileLines& operator=(const FileLines&) = delete;

protected:
    bool nextRaw(std::string& line) override {
        line.clear();
        for (;;) {
            const std::size_t end = m_buffer.find('\n', m_position);
            if (end != std::string::npos) {
                line.append(m_buffer, m_position, end - m_position);
                m_position = end + 1;
                return true;
            }
            line.append(m_buffer, m_position, std::string::npos);
            m_buffer.clear();
            m_position = 0;
            if (!fill()) return !line.empty();
        }
    }

private:
    bool fill() {
        if (m_atEnd) return false;
        m_buffer.resize(1 << 16);
        ssize_t n;
        do {
            n = ::read(m_fd, &m_buffer[0], m_buffer.size());
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            detail("XmlParser::parse()", "Failed to open input xml file " + m_path);
            throw XmlParserAbort("Failed to open input xml file " + m_path);
        }
        m_buffer.resize(static_cast<std::size_t>(n));
        m_atEnd = n == 0;
        return !m_atEnd;
    }

    const std::string m_path;
    const int m_fd;
    std::string m_buffer;
    std::size_t m_position = 0;
    bool m_atEnd = false;
};

// Lines given as a list, taken as they stand, from a starting index.
class ListedLines : public DocumentLines {
public:
    ListedLines(const std::vector<std::string>& lines, std::size_t from)
        : m_lines(lines), m_next(from) {}
    bool next(std::string& line) override {
        if (m_next >= m_lines.size()) return false;
        line = m_lines[m_next++];
        return true;
    }

private:
    const std::vector<std::string>& m_lines;
    std::size_t m_next;
};

}  // namespace

XmlParser::LineCursor::LineCursor(DocumentLines& source, std::size_t firstIndex)
    : m_source(source), m_index(firstIndex) {
    m_valid = m_source.next(m_line);
}

void XmlParser::LineCursor::advance() {
    ++m_index;
    m_valid = m_valid && m_source.next(m_line);
    if (!m_valid) m_line.clear();
}

std::unique_ptr<DocumentLines> documentTextLines(const std::string& text) {
    return std::make_unique<TextLines>(text);
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        detail(source, "Failed to open input xml file " + path);
        throw XmlParserException("Failed to open input xml file " + path);
    }
    FileLines lines(path, fd);
    return readTree(lines, source);
}

XmlNode* XmlParser::readTree(DocumentLines& lines, const std::string& source) {
    LineCursor cursor(lines, 0);
    if (!cursor.valid()) return nullptr;
    detail(source, "Processing the vector");
    return buildTree(cursor);
}

XmlNode* XmlParser::createTree(const std::vector<std::string>& lines) {
    ListedLines listed(lines, 0);
    LineCursor cursor(listed, 0);
    return buildTree(cursor);
}

XmlNode* XmlParser::buildTree(LineCursor& cursor) {
    // Equal attribute values of this tree keep one text between them.
    SharedAttributeValues values;
    auto holder = std::make_unique<XmlNode>(TAG_FIXUP_TREE_ROOT, ONLY_BEGIN);
    std::size_t firstElementLine = 0;
    std::string startLine;
    for (; cursor.valid(); cursor.advance()) {
        const std::size_t start = cursor.index();
        startLine = cursor.line();
        try {
            std::unique_ptr<XmlNode> node = buildNode(cursor, 1, values);
            if (!holder->hasChildNodes()) firstElementLine = start;
            holder->addChildNode(node.release());
        } catch (const XmlParserAbort&) {
            throw;
        } catch (const XmlParserException& e) {
            // The cursor stands at the line that could not be read; reading
            // resumes after it at the top level.
            detail("\nXmlParser::createTree()", "Caught XmlParserException - Skipping line " +
                                                    startLine + " exception message is {" +
                                                    e.what() + "}");
        }
    }
    if (!holder->hasChildNodes()) {
        throw XmlParserException("Failed to parse xml child " + TAG_VEXEL_FIXUP_ROOT +
                                 " not found Error is {" + ChildNotFoundException().what() + "}");
    }
    // A bare end tag left at the top level by an abandoned root is no root.
    XmlNode* root = nullptr;
    for (XmlNode* element = holder->firstChildNode(); element != nullptr;
         element = element->nextSiblingNode()) {
        if (*element->getNodeName() == TAG_VEXEL_FIXUP_ROOT && element->getNodeType() != ONLY_END) {
            root = element;
            break;
        }
    }
    if (root == nullptr) {
        throw XmlParserException("Failed to parse xml child " + TAG_VEXEL_FIXUP_ROOT +
                                 " not found among the " + number(holder->getChildNodesCount()) +
                                 " top-level elements; the first is <" +
                                 *holder->getFirstChildNode()->getNodeName() + "> at input line (" +
                                 number(firstElementLine) + ")");
    }
    takeTree(std::move(holder), root);
    detail("XmlParser::createTree()", "DOM creation successful");
    return m_root;
}

void XmlParser::takeTree(std::unique_ptr<XmlNode> holder, XmlNode* root) {
    m_places.reset();
    m_tree = std::move(holder);
    m_root = root;
}

XmlNode* XmlParser::createNode(const std::vector<std::string>& lines, std::size_t& index) {
    if (index >= lines.size()) {
        throw XmlParserAbort("Failed to parse xml : no input line (" + number(index) + ")");
    }
    ListedLines listed(lines, index);
    LineCursor cursor(listed, index);
    SharedAttributeValues values;
    try {
        std::unique_ptr<XmlNode> node = buildNode(cursor, 1, values);
        index = cursor.index();
        return node.release();
    } catch (...) {
        index = cursor.index();
        throw;
    }
}

namespace {
// Whether an attribute token with an "=" yields a name and a value when split
// at its equal signs the way FixupUtil::splitStringByDelim splits: one piece
// before each "=", and the rest if it is not blank. Only a single "=" followed
// by nothing but blanks gives fewer than two pieces.
bool splitsIntoNameAndValue(const std::string& token, std::size_t equals) {
    return token.find('=', equals + 1) != std::string::npos ||
           token.find_first_not_of(" \t", equals + 1) != std::string::npos;
}
}  // namespace

std::unique_ptr<XmlNode> XmlParser::buildNode(LineCursor& cursor, int depth,
                                              SharedAttributeValues& values) {
    static const std::string source = "XmlParser::createNode()";
    const bool traced = Trace::writes(TRACE_DETAIL);
    if (!cursor.valid()) {
        throw XmlParserAbort("Failed to parse xml : no input line (" + number(cursor.index()) +
                             ")");
    }
    // The cursor moves on to the children: what is needed of this line is
    // taken before that.
    const std::string& line = cursor.line();
    const std::size_t index = cursor.index();
    if (traced) {
        detail("\n" + source, "Create node for line (" + number(index) + ") with content" + line);
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
            "Failed to read Element Name : incorrect format found at input line (" + number(index) +
            ") with content" + line);
    }
    const std::string& name = tokens.front();
    auto node = std::make_unique<XmlNode>(name, type);
    if (traced) detail(source, "Created Node with Tag name " + name);

    node->reserveAttributes(tokens.size() - 1);
    for (std::size_t t = 1; t < tokens.size(); ++t) {
        const std::string& token = tokens[t];
        const std::size_t equals = token.find('=');
        if (equals == std::string::npos) continue;
        if (traced) detail(source, "Node " + name + " has attributes " + token);
        if (!splitsIntoNameAndValue(token, equals)) {
            detail(source,
                   "Failed to add attribute, failed to split the attribute string with equal "
                   "sign");
            continue;
        }
        // Only the first "=" separates: a value may itself contain "=".
        const std::string attributeName = token.substr(0, equals);
        std::string value;
        const std::size_t open = token.find('"', equals + 1);
        if (open == std::string::npos) {
            value = decodeXmlText(token.substr(equals + 1));
        } else {
            const std::size_t close = token.rfind('"');
            if (close > open) value = decodeXmlText(token.substr(open + 1, close - open - 1));
        }
        node->addAttribute(attributeName, value, values);
        if (traced) detail(source, "Adding Attribute Name:" + attributeName + " Value:" + value);
    }

    if (type == ONLY_BEGIN) {
        bool closed = false;
        for (cursor.advance(); cursor.valid(); cursor.advance()) {
            std::unique_ptr<XmlNode> child = buildNode(cursor, depth + 1, values);
            if (child->getNodeType() == ONLY_END && *child->getNodeName() == name) {
                closed = true;
                break;
            }
            if (traced) {
                detail(source, "For Parent =>" + name + " Adding child node by Name => " +
                                   *child->getNodeName());
            }
            node->addChildNode(child.release());
        }
        if (!closed) {
            throw XmlParserAbort("Failed to parse xml : element <" + name +
                                 "> opened at input line (" + number(index) + ") is never closed");
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
    const bool traced = Trace::writes(TRACE_DETAIL);
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
