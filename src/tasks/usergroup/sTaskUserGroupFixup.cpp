#include "tasks/usergroup/sTaskUserGroupFixup.h"

#include "engine/HeaderConstants.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/FixupException.h"
#include "model/NLSError.h"
#include "model/NumberParsing.h"
#include "model/Result.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {

sTaskUserGroupFixup::sTaskUserGroupFixup(FixupData* data)
    : FixupTask(data),
      m_groupAddCmd(new std::string("/usr/sbin/groupadd")),
      m_userAddCmd(new std::string("/usr/sbin/useradd")),
      m_userModCmd(new std::string("/usr/sbin/usermod")),
      m_groupModCmd(new std::string("/usr/sbin/groupmod")),
      m_idCmd(new std::string("/usr/bin/id")),
      m_grepCmd(new std::string("grep")),
      m_passwdFile(new std::string("/etc/passwd")) {}

sTaskUserGroupFixup::~sTaskUserGroupFixup() {
    for (std::string** member : {&m_groupAddCmd, &m_userAddCmd, &m_userModCmd, &m_groupModCmd,
                                 &m_idCmd, &m_grepCmd, &m_passwdFile}) {
        delete *member;
        *member = nullptr;
    }
}

Result* sTaskUserGroupFixup::fix(FixupData* data) {
    static const std::string source = "sTaskUserGroupFixup::fix";
    TraceScope scope(source);
    const std::string* id = getTaskID();
    Trace::trace(source, "Fixing " + (id ? *id : std::string()), TRACE_DETAIL);
    if (data == nullptr) return new Result();
    switch (data->getTaskID()) {
        case 8:
            return fixTaskUserExistence(data);
        case 4:
            return fixTaskGroupExistence(data);
        case 3:
            return fixTaskUserGroupMembership(data);
        default:
            return new Result();
    }
}

bool sTaskUserGroupFixup::isAccountName(const std::string& name) {
    auto isWordChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    };
    size_t end = name.size();
    if (end > 0 && name[end - 1] == '$') --end;
    if (end == 0 || !isWordChar(name[0])) return false;
    bool digitsOnly = true;
    for (size_t i = 0; i < end; ++i) {
        const char c = name[i];
        if (!isWordChar(c) && c != '.' && c != '-') return false;
        if (c < '0' || c > '9') digitsOnly = false;
    }
    return !digitsOnly;
}

bool sTaskUserGroupFixup::parseAccountId(const std::string& text, long& id) {
    if (text.empty() || (text[0] == '0' && text.size() > 1)) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    try {
        id = parseStringToLong(text, 10);
    } catch (FixupException* e) {  // out of range
        delete e;
        return false;
    }
    return true;
}

const std::string* sTaskUserGroupFixup::dataValue(FixupData* data, const std::string& name) {
    const std::string* value = nullptr;
    for (const NameValuePair* item : data->getDataSet()) {
        if (item != nullptr && item->name != nullptr && *item->name == name) value = item->value;
    }
    return value;
}

void sTaskUserGroupFixup::refuseInput(const std::string& source, const std::string& message,
                                      Result* result) {
    Trace::trace(source, message, TRACE_DETAIL);
    FixupUtil::refuseInput(result);
}

NLSError* sTaskUserGroupFixup::accountError(int number, const std::vector<std::string>& arguments) {
    NLSError* error = new NLSError(NLS_FACILITY_VXLG, true, number);
    for (const std::string& argument : arguments) error->addArgument(argument);
    return error;
}

std::string sTaskUserGroupFixup::firstFieldPattern(const std::string& name) {
    // Of the characters an account name may hold, "." and "$" mean something
    // to grep; escaped, grp. can never match grpx.
    std::string pattern = "^";
    for (char c : name) {
        if (c == '.' || c == '$') pattern += '\\';
        pattern += c;
    }
    return pattern + ":";
}

}  // namespace vxl_fixup
