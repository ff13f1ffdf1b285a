#include "OutcomeTable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <string_view>

#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "xml/XmlNode.h"
#include "xml/XmlParser.h"
#include "xml/XmlText.h"

namespace vxl_cli {

namespace {

using std::string_view;
using vxl_fixup::XmlTagType;

constexpr auto npos = string_view::npos;

// Blanks as the reader trims and splits at them; tested by hand, since the
// library's find_first_of on a view calls memchr once per character.
bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::size_t firstBlank(string_view s, std::size_t from) {
    for (std::size_t i = from; i < s.size(); ++i)
        if (isBlank(s[i])) return i;
    return npos;
}

bool blankFrom(string_view s, std::size_t from) {
    for (std::size_t i = from; i < s.size(); ++i)
        if (!isBlank(s[i])) return false;
    return true;
}

string_view trimmed(string_view s) {
    std::size_t first = 0, end = s.size();
    while (first < end && isBlank(s[first])) ++first;
    while (end > first && isBlank(s[end - 1])) --end;
    return s.substr(first, end - first);
}

// Whether c occurs in s directly followed by next; memchr finds each c.
bool hasPair(string_view s, char c, char next) {
    for (std::size_t at = s.find(c); at != npos && at + 1 < s.size(); at = s.find(c, at + 1)) {
        if (s[at + 1] == next) return true;
    }
    return false;
}

// A line's written form, told as the document reader tells it.
XmlTagType tagType(string_view line) {
    const std::size_t firstBegin = line.find('<');
    if (firstBegin == npos) return vxl_fixup::UNKNOWN_TAG;  // nor "<?" nor "</" then
    const string_view fromBegin = line.substr(firstBegin);
    if (hasPair(fromBegin, '<', '?')) return vxl_fixup::COMMENT_OR_HEADER;
    if (hasPair(line, '/', '>')) return vxl_fixup::BEGIN_AND_END;
    if (firstBegin == 0 && line.size() >= 2 && line[1] == '/') return vxl_fixup::ONLY_END;
    if (hasPair(fromBegin, '<', '/')) return vxl_fixup::BEGIN_WITH_END;
    return vxl_fixup::ONLY_BEGIN;
}

// The tokens of a tag's inside, split at blanks as the reader splits them: a
// blank between the first two double quotes after a token's start stays in
// the token.
class Tokens {
public:
    explicit Tokens(string_view inside) : m_work(trimmed(inside)) {}
    bool next(string_view& token) {
        if (m_done) return false;
        while (m_start < m_work.size() && isBlank(m_work[m_start])) ++m_start;
        const std::size_t separator = firstBlank(m_work, m_start);
        if (separator == npos || m_start == m_work.size()) {
            token = m_work.substr(m_start);
            m_done = true;
            return true;
        }
        const std::size_t open = m_work.find('"', m_start);
        const std::size_t close = open == npos ? npos : m_work.find('"', open + 1);
        std::size_t end = separator;
        if (close != npos && open < separator && separator < close) end = close + 1;
        token = m_work.substr(m_start, end - m_start);
        m_start = end;
        return true;
    }

private:
    string_view m_work;
    std::size_t m_start = 0;
    bool m_done = false;
};

// One line read as an element: its name, the inside of its tag (for the
// attributes) and its value, as the reader would build the node. False when
// the reader would refuse the line.
struct Element {
    XmlTagType type;
    string_view line;
    string_view name;
    string_view inside;  // empty for a bare end tag

    bool read(string_view text) {
        line = text;
        type = tagType(line);
        if (type == vxl_fixup::COMMENT_OR_HEADER || type == vxl_fixup::UNKNOWN_TAG) return false;
        if (type == vxl_fixup::ONLY_END) {
            const std::size_t from = line.find("</") + 2;
            const std::size_t end = line.find('>', from);
            if (end == npos) return false;
            name = line.substr(from, end - from);
            inside = {};
            return !name.empty();
        }
        const std::size_t begin = line.find('<');
        const std::size_t end =
            line.find(type == vxl_fixup::BEGIN_AND_END ? "/>" : ">", begin + 1);
        if (end == npos) return false;
        inside = line.substr(begin + 1, end - begin - 1);
        // Most names run from the first character to a blank or the end;
        // a leading blank or a quote takes the reader's whole rule.
        std::size_t i = 0;
        while (i < inside.size() && !isBlank(inside[i]) && inside[i] != '"') ++i;
        if (i > 0 && (i == inside.size() || inside[i] != '"')) {
            name = inside.substr(0, i);
            return true;
        }
        Tokens tokens(inside);
        tokens.next(name);
        return !name.empty();
    }

    // The first attribute of that name, decoded; empty when there is none.
    std::string attribute(const std::string& wanted) const {
        Tokens tokens(inside);
        string_view token;
        tokens.next(token);  // the name
        while (tokens.next(token)) {
            const std::size_t equals = token.find('=');
            if (equals == npos) continue;
            if (token.find('=', equals + 1) == npos && blankFrom(token, equals + 1)) {
                continue;  // the reader drops "NAME=" without a value
            }
            if (token.substr(0, equals) != wanted) continue;
            const std::size_t open = token.find('"', equals + 1);
            if (open == npos) return vxl_fixup::decodeXmlText(std::string(token.substr(equals + 1)));
            const std::size_t close = token.rfind('"');
            if (close <= open) return std::string();
            return vxl_fixup::decodeXmlText(std::string(token.substr(open + 1, close - open - 1)));
        }
        return std::string();
    }

    // The element's value: null when the reader would give it none.
    bool value(std::string& into) const {
        if (type != vxl_fixup::BEGIN_WITH_END) return false;
        const std::size_t close = line.find('>');
        const std::size_t next = close == npos ? npos : line.find('<', close + 1);
        if (next == npos) return false;
        into = vxl_fixup::decodeXmlText(std::string(line.substr(close + 1, next - close - 1)));
        return !into.empty();
    }
};

// Where an open element stands on the way from the root to an outcome.
enum class Role {
    OTHER,
    ROOT,
    TASK_LIST,
    TASK,
    DATA_LIST,
    DATA,
    NODE_LIST,
    NODE,
    OUTPUT,
    DETAILS,
    NATIVES,
    MESSAGES,
    MESSAGE,
    ARGUMENTS,
};

Role roleOf(Role parent, string_view name) {
    using namespace vxl_fixup;
    switch (parent) {
        case Role::ROOT:
            return name == TAG_TASK_LIST ? Role::TASK_LIST : Role::OTHER;
        case Role::TASK_LIST:
            return Role::TASK;  // a task element of any name
        case Role::TASK:
            return name == TAG_FIXUP_DATA_LIST ? Role::DATA_LIST : Role::OTHER;
        case Role::DATA_LIST:
            return Role::DATA;  // an instance element of any name
        case Role::DATA:
            return name == TAG_NODELIST ? Role::NODE_LIST : Role::OTHER;
        case Role::NODE_LIST:
            return name == TAG_NODE ? Role::NODE : Role::OTHER;
        case Role::NODE:
            return name == TAG_FIXUP_OUTPUT_DATA ? Role::OUTPUT : Role::OTHER;
        case Role::OUTPUT:
            return name == TAG_ERROR_DETAILS ? Role::DETAILS : Role::OTHER;
        case Role::DETAILS:
            if (name == TAG_NATIVE_ERRORS) return Role::NATIVES;
            return name == TAG_NLS_MSG_LIST ? Role::MESSAGES : Role::OTHER;
        case Role::MESSAGES:
            return name == TAG_NLS_MSG ? Role::MESSAGE : Role::OTHER;
        case Role::MESSAGE:
            return name == TAG_NLS_MSG_ARG_LIST ? Role::ARGUMENTS : Role::OTHER;
        default:
            return Role::OTHER;
    }
}

std::string shortName(std::string name) {
    return vxl_fixup::lowerCaseCopy(name.substr(0, name.find('.')));
}

// Reads an output document line by line, keeping only the elements open on
// the way to the line at hand: the outcomes come out as a walk of the tree
// the document reader would build would find them, without the tree. A line
// the reader would refuse costs the top-level element it stands in, as it
// does there.
class OutcomeReader {
public:
    // False (with why set) when the reader would give up on the document.
    bool line(string_view raw) {
        const string_view text = trimmed(raw);
        if (text.empty()) return true;
        const std::size_t index = m_lineIndex++;
        Element element;
        if (!element.read(text)) {
            abandonTopLevelElement();
            return true;
        }
        if (!m_open.empty() && element.type == vxl_fixup::ONLY_END &&
            element.name == m_open.back().name) {
            close();
            return true;
        }
        const std::size_t depth = m_open.size() + 1;
        if (element.type != vxl_fixup::ONLY_END &&
            depth > static_cast<std::size_t>(vxl_fixup::XmlParser::MAX_NESTING_DEPTH)) {
            m_why = "Failed to parse xml : nesting deeper than " +
                    vxl_fixup::integerToString(vxl_fixup::XmlParser::MAX_NESTING_DEPTH) + " levels";
            return false;
        }
        open(element, index);
        if (element.type != vxl_fixup::ONLY_BEGIN) close();
        return true;
    }

    // At the end of the document: false (with why set) when it has no root.
    bool finish(std::vector<Outcome>& outcomes) {
        if (!m_open.empty()) {
            m_why = "Failed to parse xml : element <" + m_open.back().name +
                    "> opened at input line (" + number(m_open.back().line) +
                    ") is never closed";
            return false;
        }
        if (m_lineIndex == 0) {
            m_why = "no document root";
            return false;
        }
        if (m_topLevelCount == 0) {
            m_why = "Failed to parse xml child " + vxl_fixup::TAG_VEXEL_FIXUP_ROOT +
                    " not found Error is {" + vxl_fixup::ChildNotFoundException().what() + "}";
            return false;
        }
        if (!m_rootFound) {
            m_why = "Failed to parse xml child " + vxl_fixup::TAG_VEXEL_FIXUP_ROOT +
                    " not found among the " + number(m_topLevelCount) +
                    " top-level elements; the first is <" + m_firstName + "> at input line (" +
                    number(m_firstLine) + ")";
            return false;
        }
        // Instances count per task identifier and node (short name, any case),
        // across repeated tasks, as the run numbered them.
        std::map<std::pair<std::string, std::string>, int> counters;
        for (Outcome& o : m_pending) o.instance = counters[{o.task, shortName(o.node)}]++;
        outcomes.insert(outcomes.end(), std::make_move_iterator(m_pending.begin()),
                        std::make_move_iterator(m_pending.end()));
        m_pending.clear();
        return true;
    }

    const std::string& why() const { return m_why; }

private:
    struct Open {
        std::string name;
        Role role;
        std::size_t line;
    };

    // The open elements; entries are kept when closed, so that their names'
    // storage serves the next element opened at that depth.
    class OpenElements {
    public:
        bool empty() const { return m_depth == 0; }
        std::size_t size() const { return m_depth; }
        Open& back() { return m_entries[m_depth - 1]; }
        void clear() { m_depth = 0; }
        // The entry just closed stays readable until the next push.
        Open& pop() { return m_entries[--m_depth]; }
        void push(string_view name, Role role, std::size_t line) {
            if (m_depth == m_entries.size()) m_entries.emplace_back();
            Open& entry = m_entries[m_depth++];
            entry.name.assign(name.data(), name.size());
            entry.role = role;
            entry.line = line;
        }

    private:
        std::vector<Open> m_entries;
        std::size_t m_depth = 0;
    };

    static std::string number(std::size_t n) {
        return vxl_fixup::integerToString(static_cast<int>(n));
    }

    void open(const Element& element, std::size_t index) {
        Role role = Role::OTHER;
        if (m_open.empty()) {
            const bool root = element.name == vxl_fixup::TAG_VEXEL_FIXUP_ROOT &&
                              element.type != vxl_fixup::ONLY_END && !m_rootFound;
            role = root ? Role::ROOT : Role::OTHER;
            m_topLevelLine = index;
        } else {
            role = roleOf(m_open.back().role, element.name);
        }
        std::string value;
        switch (role) {
            case Role::TASK:
                m_task = element.attribute(vxl_fixup::ATTR_ID);
                break;
            case Role::NODE:
                m_node = element.attribute(vxl_fixup::ATTR_NAME);
                break;
            case Role::OUTPUT:
                m_pending.emplace_back();
                m_pending.back().task = m_task;
                m_pending.back().node = m_node;
                break;
            case Role::MESSAGE:
                m_message.facility = element.attribute(vxl_fixup::ATTR_FACILITY);
                m_message.id = element.attribute(vxl_fixup::ATTR_ID);
                m_message.arguments.clear();
                break;
            case Role::OTHER:
                if (m_open.empty()) break;
                if (m_open.back().role == Role::OUTPUT && element.name == vxl_fixup::TAG_STATUS) {
                    if (element.value(value)) m_pending.back().status = value;
                } else if (m_open.back().role == Role::NATIVES &&
                           element.name == vxl_fixup::TAG_ERROR) {
                    if (element.value(value)) m_pending.back().nativeErrors.push_back(value);
                } else if (m_open.back().role == Role::ARGUMENTS &&
                           element.name == vxl_fixup::TAG_NLS_MSG_ARG) {
                    element.value(value);
                    m_message.arguments.push_back(value);
                }
                break;
            default:
                break;
        }
        m_open.push(element.name, role, index);
    }

    void close() {
        const Open& closing = m_open.pop();
        if (closing.role == Role::MESSAGE) m_pending.back().messages.push_back(std::move(m_message));
        if (!m_open.empty()) return;
        // A whole top-level element: the first root keeps its outcomes.
        if (m_topLevelCount++ == 0) {
            m_firstName = closing.name;
            m_firstLine = m_topLevelLine;
        }
        if (closing.role == Role::ROOT) {
            m_rootFound = true;
            m_kept = m_pending.size();
        }
        m_pending.resize(m_kept);
    }

    // The reader skips a line it cannot read and drops the top-level element
    // it stood in.
    void abandonTopLevelElement() {
        m_open.clear();
        m_pending.resize(m_kept);
    }

    OpenElements m_open;
    std::vector<Outcome> m_pending;  // those of the first root, then of the element being read
    std::size_t m_kept = 0;
    std::size_t m_lineIndex = 0;
    std::size_t m_topLevelCount = 0;
    std::size_t m_topLevelLine = 0;
    std::size_t m_firstLine = 0;
    std::string m_firstName;
    bool m_rootFound = false;
    std::string m_task, m_node;
    MessageError m_message;
    std::string m_why;
};

// Hands each line of text (without its line feed) to reader.
bool readLines(string_view text, OutcomeReader& reader) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (!reader.line(text.substr(0, end))) return false;
        if (end == npos) break;
        text.remove_prefix(end + 1);
    }
    return true;
}

}  // namespace

bool readOutcomes(const std::string& outputDocument, std::vector<Outcome>& outcomes,
                  std::string& why) {
    const int fd = ::open(outputDocument.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        why = "cannot read " + outputDocument;
        return false;
    }
    // One pass in blocks: a line split between two blocks is carried over.
    OutcomeReader reader;
    std::string carried;
    std::vector<char> block(1 << 16);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            why = "cannot read " + outputDocument;
            return false;
        }
        if (n == 0) break;
        string_view text(block.data(), static_cast<std::size_t>(n));
        const std::size_t first = text.find('\n');
        if (first == npos) {
            carried.append(text);
            continue;
        }
        carried.append(text.substr(0, first));
        ok = reader.line(carried);
        text.remove_prefix(first + 1);
        const std::size_t last = text.rfind('\n');
        if (ok && last != npos) {
            ok = readLines(text.substr(0, last), reader);
            text.remove_prefix(last + 1);
        }
        carried.assign(text);
        if (!ok) break;
    }
    ::close(fd);
    ok = ok && reader.line(carried) && reader.finish(outcomes);
    if (!ok) why = outputDocument + ": " + reader.why();
    return ok;
}

bool readOutcomesFromText(const std::string& text, const std::string& outputDocument,
                          std::vector<Outcome>& outcomes, std::string& why) {
    OutcomeReader reader;
    if (!readLines(text, reader) || !reader.finish(outcomes)) {
        why = outputDocument + ": " + reader.why();
        return false;
    }
    return true;
}

std::string messageText(const MessageError& error) {
    std::string text = error.facility + "-" + error.id;
    if (error.arguments.empty()) return text;
    text += "(";
    for (std::size_t i = 0; i < error.arguments.size(); ++i)
        text += (i ? ", " : "") + error.arguments[i];
    return text + ")";
}

void printOutcomeTable(const std::vector<Outcome>& outcomes, std::ostream& out) {
    const char* headers[] = {"TASK", "INSTANCE", "NODE", "STATUS", "ERRORS"};
    size_t widths[4] = {4, 8, 4, 6};
    for (const Outcome& o : outcomes) {
        widths[0] = std::max(widths[0], o.task.size());
        widths[2] = std::max(widths[2], o.node.size());
        widths[3] = std::max(widths[3], o.status.size());
    }
    auto pad = [](const std::string& s, size_t w) {
        return s + std::string(w - s.size() + 2, ' ');
    };
    out << pad(headers[0], widths[0]) << pad(headers[1], widths[1]) << pad(headers[2], widths[2])
        << pad(headers[3], widths[3]) << headers[4] << "\n";
    if (outcomes.empty()) out << "(no outcome recorded for any node)\n";
    // Each row is made in one reused buffer: a run's table can be long.
    auto cell = [](std::string& row, const std::string& s, size_t w) {
        row += s;
        row.append(w - s.size() + 2, ' ');
    };
    const size_t indent = widths[0] + widths[1] + widths[2] + widths[3] + 8;
    std::string row;
    for (const Outcome& o : outcomes) {
        row.clear();
        cell(row, o.task, widths[0]);
        cell(row, std::to_string(o.instance), widths[1]);
        cell(row, o.node, widths[2]);
        cell(row, o.status, widths[3]);
        bool first = true;
        auto error = [&](const char* kind, const std::string& text) {
            if (!first) row.append(indent, ' ');
            first = false;
            row += kind;
            row += text;
            row += '\n';
        };
        for (const MessageError& m : o.messages) error("NLS ", messageText(m));
        for (const std::string& n : o.nativeErrors) error("native: ", n);
        if (first) row += "-\n";
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
}

}  // namespace vxl_cli
