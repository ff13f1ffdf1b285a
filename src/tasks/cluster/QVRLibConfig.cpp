// The storage library's driver configuration: KEY=value lines whose values
// are rewritten in place (keys missing from the file are not added), then the
// driver is restarted through its init script.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/HeaderConstants.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "tasks/cluster/sTaskClusterSettings.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {

namespace {

const char* const kDriverKeys[] = {
    "KELVANEQVR_ENABLED",  "KELVANEQVR_UID",       "KELVANEQVR_GID",
    "KELVANEQVR_SCANBOOT", "KELVANEQVR_SCANORDER", "KELVANEQVR_SCANEXCLUDE",
};

bool isDriverKey(const std::string& name) {
    for (const char* key : kDriverKeys) {
        if (name == key) return true;
    }
    return false;
}

// The driver's init script reads the file as shell assignments, so a value
// may hold no character a shell would expand, quote, redirect or act on
// there; control characters (line breaks) neither. Glob characters are
// literal in an assignment.
bool isAssignmentValue(const std::string& value) {
    static const std::string kShellActive = "$`\\\"';&|<>()";
    for (const char c : value) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < ' ' || u == 0x7f || kShellActive.find(c) != std::string::npos) return false;
    }
    return true;
}

// The value as written: in double quotes when it holds a blank, so that it
// stays one word when the file is read.
std::string assignmentText(const std::string& value) {
    return value.find(' ') == std::string::npos ? value : "\"" + value + "\"";
}

// Gives a KEY=value line the value; false when the line does not set key.
// The old value is everything after the first "=" up to the line's trailing
// blanks, so a value that itself holds "=" is replaced whole.
bool setLineValue(std::string& line, const std::string& key, const std::string& value) {
    static const char* const blanks = " \t";
    const size_t start = line.find_first_not_of(blanks);
    if (start == std::string::npos ||
        !FixupUtil::lineStartsWithKey(FixupUtil::trimWhiteSpaces(line), key, "=")) {
        return false;
    }
    const size_t equals = line.find_first_not_of(blanks, start + key.size());
    if (equals == std::string::npos || line[equals] != '=') return false;
    const size_t valueStart = equals + 1;
    const size_t valueEnd = std::max(line.find_last_not_of(blanks) + 1, valueStart);
    const std::string old = line.substr(valueStart, valueEnd - valueStart);
    if (FixupUtil::trimWhiteSpaces(old) != value) line.replace(valueStart, old.size(), value);
    return true;
}

}  // namespace

Result* sTaskClusterSettings::fixTaskQVRLibConfigParams(FixupData* data) {
    TraceScope scope("sTaskClusterSettings::fixTaskQVRLibConfigParams");
    std::vector<std::unique_ptr<NameValuePair>> owned;
    std::vector<NameValuePair*> params;
    std::unique_ptr<std::string> path;
    for (const NameValuePair* item : data->getDataSet()) {
        if (*item->name == "CONFIGFILEPATH") {
            path.reset(new std::string(*item->value));
        } else if (isDriverKey(*item->name)) {
            owned.emplace_back(new NameValuePair(*item->name, *item->value));
            params.push_back(owned.back().get());
        }
    }
    return fixQVRLibConfigParams(path.get(), params);
}

Result* sTaskClusterSettings::fixQVRLibConfigParams(const std::string* configFile,
                                                    std::vector<NameValuePair*> params) {
    static const std::string source = "sTaskClusterSettings::fixQVRLibConfigParams";
    TraceScope scope(source);
    Trace::trace(source, "fixing QVR config parameters", TRACE_DETAIL);
    std::unique_ptr<Result> result(new Result());
    result->setStatus(SUCCESSFUL);
    std::vector<const NameValuePair*> usable;
    for (const NameValuePair* param : params) {
        if (param != nullptr && param->name != nullptr && param->value != nullptr) {
            usable.push_back(param);
        }
    }
    if (usable.empty() || configFile == nullptr || configFile->empty()) {
        Trace::trace(source,
                     "The QVR configuration file path or no single config param value not "
                     "provided to fix the QVR config parameters",
                     TRACE_DETAIL);
        FixupUtil::refuseInput(result.get());
        return result.release();
    }
    if (!FixupUtil::acceptAbsolutePath(source, configFile, result.get())) {
        return result.release();
    }
    for (const NameValuePair* param : usable) {
        if (!FixupUtil::acceptSingleLineValue(source, param->value, result.get())) {
            return result.release();
        }
        if (!isAssignmentValue(*param->value)) {
            Trace::trace(source, "Refusing the value of " + *param->name +
                                     ": the driver's init script would run part of it");
            FixupUtil::refuseInput(result.get());
            return result.release();
        }
    }
    Trace::trace(source, "Processing the inputs", TRACE_DETAIL);
    std::vector<std::string> lines;
    if (!FixupUtil::readConfigFile(source, *configFile, lines, result.get())) {
        return result.release();
    }
    for (std::string& line : lines) {
        for (const NameValuePair* param : usable) {
            if (setLineValue(line, *param->name, assignmentText(*param->value))) {
                Trace::trace(source, "Line for " + *param->name + " is now " + line, TRACE_DETAIL);
            }
        }
    }
    if (!FixupUtil::writeConfigFile(source, *configFile, lines, result.get())) {
        return result.release();
    }
    // Restarted also when nothing changed: the driver may still run with
    // values it read before the file was corrected by someone else.
    const std::string restart = "restart";
    const std::vector<const std::string*> args{&restart};
    if (FixupUtil::runExeSucceeded(m_qvrLibInitScript, args, result.get())) {
        Trace::trace(source, "QVRLib driver restart successful", TRACE_DETAIL);
        result->setStatus(SUCCESSFUL);
        return result.release();
    }
    addToolError(result.get(), NLS_FACILITY_VXLG, 9064,
                 FixupUtil::commandText(*m_qvrLibInitScript, args));
    return result.release();
}

}  // namespace vxl_fixup
