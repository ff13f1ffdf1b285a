#include "model/Script.h"


#include "engine/Constants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/Result.h"
#include "util/FixupUtil.h"
#include "util/ShellQuote.h"

namespace vxl_fixup {

_SCRIPT_TYPE FixupUtil::getScriptType(const std::string* text) {
    if (text == nullptr) return SCRIPT_TYPE_UNKNOWN;
    static const char* const kTypes[] = {"SHELL", "PERL", "BATCH", "SQL", "PLSQL"};
    const std::string upper = upperCaseCopy(*text);
    for (int i = 0; i < 5; ++i) {
        if (upper == kTypes[i]) return static_cast<_SCRIPT_TYPE>(i + 1);
    }
    return SCRIPT_TYPE_UNKNOWN;
}

Script::Script(const std::string* name, const std::string* location)
    : m_name(name), m_location(location ? location : &m_emptyLocation) {}

Script::~Script() = default;

Script* Script::createScript(_SCRIPT_TYPE type, const std::string* name,
                             const std::string* location) {
    if (type == SCRIPT_TYPE_SHELL) return new ShellScript(name, location);
    return nullptr;
}

void Script::setArgumentList(std::vector<const std::string*> args) {
    m_arguments.insert(m_arguments.end(), args.begin(), args.end());
}

std::string Script::getScriptFilePath() const {
    const std::string name = m_name ? *m_name : std::string();
    if (m_location == nullptr || m_location->empty()) {
        const std::string* work = Constants::getWorkDirPath();
        return (work ? *work : std::string()) + name;
    }
    return *m_location + getFilePathSeparator() + name;
}

Result* ShellScript::runScript() {
    static const std::string source = "ShellScript::runScript";
    Result* result = new Result();
    const std::string path = getScriptFilePath();
    Trace::trace(source, "running executable script file " + path, TRACE_DETAIL);
    const std::vector<const std::string*> args = getArguments();
    Trace::trace(source, "running with following arguments\n", TRACE_DETAIL);
    for (size_t i = 0; i < args.size(); ++i) {
        Trace::trace(source,
                     "argument[" + std::to_string(i) + "] is (" + (args[i] ? *args[i] : "") + ")",
                     TRACE_DETAIL);
    }
    // Document texts become words of the command line: each is quoted.
    std::vector<std::string> quoted;
    quoted.reserve(args.size());
    for (const std::string* a : args) quoted.push_back(shellQuote(a ? *a : std::string()));
    std::vector<const std::string*> quotedPointers;
    for (const std::string& q : quoted) quotedPointers.push_back(&q);
    FixupUtil::runExe(&path, quotedPointers, result, false);
    return result;
}

}  // namespace vxl_fixup
