#include "SshResultText.h"

#include <vector>

#include "xml/XmlText.h"

namespace vxl_cli {
namespace {

// The decoded text between <tag> and </tag> at or after from; false when
// there is none. from moves past the closing tag.
bool element(const std::string& text, const std::string& tag, size_t& from, std::string& inner) {
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    const size_t start = text.find(open, from);
    if (start == std::string::npos) return false;
    const size_t end = text.find(close, start + open.size());
    if (end == std::string::npos) return false;
    inner = text.substr(start + open.size(), end - start - open.size());
    from = end + close.size();
    return true;
}

std::string decoded(const std::string& text) { return vxl_fixup::decodeXmlText(text); }

// The first <tag> element's text, as written; empty when there is none.
std::string child(const std::string& text, const std::string& tag) {
    size_t from = 0;
    std::string inner;
    return element(text, tag, from, inner) ? inner : std::string();
}

// "Vxlg-9080(a, b, c)" for each message group.
std::vector<std::string> messagesOf(const std::string& text) {
    std::vector<std::string> messages;
    size_t at = 0;
    std::string message;
    while (element(text, "NLS_MSG", at, message)) {
        const std::string data = child(message, "MSG_DATA");
        std::vector<std::string> arguments;
        std::string argument;
        for (size_t d = 0; element(data, "DATA", d, argument);)
            arguments.push_back(decoded(argument));
        std::string line =
            decoded(child(message, "FACILITY")) + "-" + decoded(child(message, "ID")) + "(";
        for (size_t i = 0; i < arguments.size(); ++i) line += (i ? ", " : "") + arguments[i];
        messages.push_back(line + ")");
    }
    return messages;
}

}  // namespace

SshResult parseSshResultText(const std::string& resultText) {
    SshResult r;
    for (const char* op : {"GENERATE", "REUSE", "UPDATE", "REFRESH"}) {
        size_t at = 0;
        std::string body;
        if (resultText.rfind(std::string("<") + op + ">", 0) != 0 ||
            !element(resultText, op, at, body)) {
            continue;
        }
        r.recognised = true;
        r.operation = op;
        std::string published, inSshDirectory;
        size_t in = 0;
        if (body == "SUCCESS") {
            r.succeeded = true;
        } else if (element(body, "PUB_KEY_PUB_LOC", in, published) &&
                   element(body, "PUB_KEY_SSH_DIR_LOC", in, inSshDirectory)) {
            r.succeeded = true;
            r.publishedKey = decoded(published);
            r.keyInSshDirectory = decoded(inSshDirectory);
        } else {
            r.messages = messagesOf(body);
        }
        return r;
    }
    if (resultText.rfind("<NLS_MSG>", 0) == 0) {
        r.recognised = true;
        r.messages = messagesOf(resultText);
    }
    return r;
}

std::string describeSshResultText(const std::string& resultText) {
    const SshResult r = parseSshResultText(resultText);
    if (!r.recognised) return resultText + "\n";
    std::string text =
        r.operation + (r.operation.empty() ? "" : " ") + (r.succeeded ? "succeeded\n" : "failed\n");
    if (!r.publishedKey.empty() || !r.keyInSshDirectory.empty()) {
        text += "  published public key:           " + r.publishedKey +
                "\n  public key in the SSH directory: " + r.keyInSshDirectory + "\n";
    }
    for (const std::string& m : r.messages) text += "  " + m + "\n";
    return text;
}

}  // namespace vxl_cli
