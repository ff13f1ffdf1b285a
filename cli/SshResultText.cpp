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

// "  Vxlg-9080(a, b, c)" for each message group.
std::string messageLines(const std::string& text) {
    std::string lines;
    size_t at = 0;
    std::string message;
    while (element(text, "NLS_MSG", at, message)) {
        const std::string data = child(message, "MSG_DATA");
        std::vector<std::string> arguments;
        std::string argument;
        for (size_t d = 0; element(data, "DATA", d, argument);)
            arguments.push_back(decoded(argument));
        lines +=
            "  " + decoded(child(message, "FACILITY")) + "-" + decoded(child(message, "ID")) + "(";
        for (size_t i = 0; i < arguments.size(); ++i) lines += (i ? ", " : "") + arguments[i];
        lines += ")\n";
    }
    return lines;
}

}  // namespace

std::string describeSshResultText(const std::string& resultText) {
    for (const char* op : {"GENERATE", "REUSE", "UPDATE", "REFRESH"}) {
        size_t at = 0;
        std::string body;
        if (resultText.rfind(std::string("<") + op + ">", 0) != 0 ||
            !element(resultText, op, at, body)) {
            continue;
        }
        std::string published, inSshDirectory;
        size_t in = 0;
        if (body == "SUCCESS") return std::string(op) + " succeeded\n";
        if (element(body, "PUB_KEY_PUB_LOC", in, published) &&
            element(body, "PUB_KEY_SSH_DIR_LOC", in, inSshDirectory)) {
            return std::string(op) +
                   " succeeded\n  published public key:           " + decoded(published) +
                   "\n  public key in the SSH directory: " + decoded(inSshDirectory) + "\n";
        }
        return std::string(op) + " failed\n" + messageLines(body);
    }
    if (resultText.rfind("<NLS_MSG>", 0) == 0) return "failed\n" + messageLines(resultText);
    return resultText + "\n";
}

}  // namespace vxl_cli
