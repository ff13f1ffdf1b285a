// The owner, group and mode of one path, as the verification tool expects
// them: "USER:name(id),GROUP:name(id),PERMISSIONS:mode". Nothing is compared
// with the actual state: whatever is expected is set.
#include <memory>
#include <string>

#include "engine/HeaderConstants.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "tasks/cluster/sTaskClusterSettings.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {

namespace {

struct Ownership {
    bool hasUser = false, hasGroup = false, hasMode = false;
    std::string user, group, mode;
};

// The name before "(" of a USER or GROUP value; the id between the
// parentheses, when there are both, goes to idTrace.
std::string nameOf(const std::string& value, const std::string& source,
                   const std::string& idTrace) {
    const size_t open = value.find('(');
    if (open != std::string::npos) {
        const size_t close = value.find(')', open + 1);
        if (close != std::string::npos) {
            Trace::trace(source, idTrace + value.substr(open + 1, close - open - 1), TRACE_DETAIL);
        }
    }
    return value.substr(0, open);
}

// Reads KEY:value items separated by ","; a later item with the same key
// replaces the earlier one, and items without ":" or with other keys are
// ignored. expected selects the trace wording; the actual value is only
// traced.
Ownership readOwnership(const std::string& text, bool expected, const std::string& source) {
    Ownership o;
    for (const std::string& item : FixupUtil::splitStringByDelim(text, ",")) {
        const size_t colon = item.find(':');
        if (colon == std::string::npos) continue;
        const std::string key = item.substr(0, colon);
        const std::string value = item.substr(colon + 1);
        if (key == "USER") {
            o.user = nameOf(value, source, expected ? "Expected user id " : "Actual User id ");
            o.hasUser = true;
            Trace::trace(source, (expected ? "Expected user is " : "Actual User is ") + o.user,
                         TRACE_DETAIL);
        } else if (key == "GROUP") {
            o.group = nameOf(value, source, expected ? "Expected group id " : "Actual Group id ");
            o.hasGroup = true;
            Trace::trace(source, (expected ? "Expected group is " : "Actual Group is ") + o.group,
                         TRACE_DETAIL);
        } else if (key == "PERMISSIONS") {
            o.mode = value;
            o.hasMode = true;
            if (expected) Trace::trace(source, "Expected permissions are " + value, TRACE_DETAIL);
        }
    }
    return o;
}

// chown and chmod run as root with these words: a name that could read as an
// option or as user:group, or a mode that is not plain octal, is refused.
bool isAccountName(const std::string& name) {
    if (name.empty()) return true;  // reported by the file utilities
    if (name[0] == '-') return false;
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7f || c == ':' || c == '/') return false;
    }
    return true;
}

bool isOctalMode(const std::string& mode) {
    if (mode.empty()) return true;  // reported by the file utilities
    return mode.size() <= 4 && mode.find_first_not_of("01234567") == std::string::npos;
}

// Why the values the two steps would use cannot be used; empty when they can.
std::string refusal(const std::string& path, const Ownership& o, bool setOwner, bool setMode) {
    if (!path.empty() && path[0] != '/') return "The path " + path + " is not an absolute path";
    if (setOwner && !isAccountName(o.user)) {
        return "The user name " + o.user + " is not an account name";
    }
    if (setOwner && !isAccountName(o.group)) {
        return "The group name " + o.group + " is not a group name";
    }
    if (setMode && !isOctalMode(o.mode)) {
        return "The permissions " + o.mode + " are not an octal mode";
    }
    return std::string();
}

}  // namespace

Result* sTaskClusterSettings::fixPathOwnershipPermissions(FixupData* data) {
    static const std::string source = "sTaskClusterSettings::fixPathOwnershipPermissions";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    std::unique_ptr<std::string> path;
    for (const NameValuePair* item : data->getDataSet()) {
        if (*item->name == "PATH") path.reset(new std::string(*item->value));
    }
    Ownership expected;
    if (const std::string* text = data->getExpectedValue()) {
        Trace::trace(source, "Expected value is " + *text, TRACE_DETAIL);
        expected = readOwnership(*text, true, source);
    }
    if (const std::string* text = data->getActualValue()) {
        Trace::trace(source, "Actual value is " + *text, TRACE_DETAIL);
        readOwnership(*text, false, source);
    }
    const bool setOwner = expected.hasUser && expected.hasGroup;
    if (!path || (!setOwner && !expected.hasMode)) return result.release();

    // chown and chmod take the names and the path as argument words.
    if (!FixupUtil::acceptAbsolutePath(source, path.get(), result.get()) ||
        !FixupUtil::acceptArgumentWords(source, {&expected.user, &expected.group}, result.get())) {
        return result.release();
    }
    const std::string refused = refusal(*path, expected, setOwner, expected.hasMode);
    if (!refused.empty()) {
        Trace::trace(source, refused + ", nothing is changed for the path " + *path);
        FixupUtil::refuseInput(result.get());
        return result.release();
    }

    bool ownershipFailed = false;
    if (setOwner) {
        const std::string owner = expected.user + ":" + expected.group;
        if (FixupUtil::changeFileOwnerShip(path.get(), expected.user, expected.group,
                                           result.get())) {
            Trace::trace(source, "(Successfully set the expected ownership " + owner +
                                     " for the path " + *path + ")");
        } else {
            Trace::trace(source, "(Failed to set the expected ownership " + owner +
                                     " for the path " + *path + ")");
            result->setStatus(FAILED);
            ownershipFailed = true;
        }
    }
    if (expected.hasMode) {
        if (FixupUtil::changeFilePermissions(path.get(), expected.mode, result.get())) {
            Trace::trace(source, "(Successfully set the expected permissions " + expected.mode +
                                     " for the path " + *path + ")");
        } else {
            Trace::trace(source, "(Failed to set the expected permissions " + expected.mode +
                                     " for the path " + *path + ")");
            result->setStatus(FAILED);
        }
    }
    // chmod's success overwrites the status the failed chown left.
    if (ownershipFailed) result->setStatus(FAILED);
    return result.release();
}

}  // namespace vxl_fixup
