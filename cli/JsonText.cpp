#include "JsonText.h"

#include <cstdio>

#include "SshResultText.h"

namespace vxl_cli {

namespace {

// Length of the valid UTF-8 sequence at s[i]; 0 when there is none.
size_t validSequence(const std::string& s, size_t i) {
    const auto byte = [&](size_t j) { return static_cast<unsigned char>(s[j]); };
    const unsigned char c = byte(i);
    size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t j = 1; j < n; ++j) {
        if ((byte(i + j) & 0xC0) != 0x80) return 0;
    }
    // Overlong forms, surrogates and code points above U+10FFFF.
    if ((c == 0xE0 && byte(i + 1) < 0xA0) || (c == 0xED && byte(i + 1) > 0x9F) ||
        (c == 0xF0 && byte(i + 1) < 0x90) || (c == 0xF4 && byte(i + 1) > 0x8F)) {
        return 0;
    }
    return n;
}

}  // namespace

std::string json(const std::string& s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char escaped[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const size_t n = validSequence(s, i)) {
            out.append(s, i, n);
            i += n;
            continue;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        ++i;
    }
    return out + "\"";
}

std::string jsonStrings(const std::vector<std::string>& items) {
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i) text += (i ? ", " : "") + json(items[i]);
    return text + "]";
}

namespace {

// A message number as a JSON number when it is one (as every recorded one
// is), otherwise as the text the document holds.
std::string jsonId(const std::string& id) {
    const bool number = !id.empty() && id.size() <= 9 &&
                        id.find_first_not_of("0123456789") == std::string::npos &&
                        (id.size() == 1 || id[0] != '0');
    return number ? id : json(id);
}

}  // namespace

std::string outcomeJson(const Outcome& o) {
    std::vector<std::string> texts;
    std::string errors = "[";
    for (const MessageError& m : o.messages) {
        texts.push_back(messageText(m));
        errors += std::string(errors.size() > 1 ? ", " : "") + "{\"facility\": " +
                  json(m.facility) + ", \"id\": " + jsonId(m.id) +
                  ", \"arguments\": " + jsonStrings(m.arguments) + "}";
    }
    return "{\"task\": " + json(o.task) + ", \"instance\": " + std::to_string(o.instance) +
           ", \"node\": " + json(o.node) + ", \"status\": " + json(o.status) +
           ", \"messages\": " + jsonStrings(texts) + ", \"errors\": " + errors + "]" +
           ", \"nativeErrors\": " + jsonStrings(o.nativeErrors) + "}";
}

void printOutcomesMember(const std::vector<Outcome>& outcomes, std::ostream& out) {
    out << "  \"outcomes\": [";
    for (size_t i = 0; i < outcomes.size(); ++i) {
        out << (i ? ",\n    " : "\n    ") << outcomeJson(outcomes[i]);
    }
    out << (outcomes.empty() ? "]" : "\n  ]");
}

void printRunJson(const RunSummary& r, std::ostream& out) {
    out << "{\n  \"document\": " << json(r.document) << ",\n  \"node\": " << json(r.node)
        << ",\n  \"workDir\": " << json(r.workDir)
        << ",\n  \"outputDocument\": " << json(r.outputDocument)
        << ",\n  \"exitCode\": " << r.exitCode << ",\n  \"error\": " << json(r.error) << ",\n";
    printOutcomesMember(r.outcomes, out);
    out << "\n}\n";
}

void printShowJson(const std::string& outputDocument, const std::vector<Outcome>& outcomes,
                   std::ostream& out) {
    out << "{\n  \"outputDocument\": " << json(outputDocument) << ",\n";
    printOutcomesMember(outcomes, out);
    out << "\n}\n";
}

void printSshJson(const SshSummary& s, std::ostream& out) {
    const SshResult r = parseSshResultText(s.resultText);
    out << "{\n  \"operation\": " << json(s.operation) << ",\n  \"node\": " << json(s.node)
        << ",\n  \"workDir\": " << json(s.workDir) << ",\n  \"exitCode\": " << s.exitCode
        << ",\n  \"succeeded\": " << (r.recognised && r.succeeded ? "true" : "false")
        << ",\n  \"publishedKey\": " << json(r.publishedKey)
        << ",\n  \"keyInSshDirectory\": " << json(r.keyInSshDirectory)
        << ",\n  \"messages\": " << jsonStrings(r.messages)
        << ",\n  \"agent\": {\"SSH_AUTH_SOCK\": " << json(s.agentSocket)
        << ", \"SSH_AGENT_PID\": " << json(s.agentPid) << "}"
        << ",\n  \"resultText\": " << json(s.resultText) << ",\n  \"error\": " << json(s.error)
        << "\n}\n";
}

}  // namespace vxl_cli
