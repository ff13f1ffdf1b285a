// The user and group task family: operating-system users and groups that must
// exist with a given numeric id, and group memberships a user must have. One
// object per task; fix(FixupData*) dispatches on the task identifier number.
//
// Every change is made by the node's own account tools (useradd, usermod,
// groupadd, groupmod) and checked with id and grep. A name or id from a
// document reaches a command line only after it passed isAccountName or
// parseAccountId, and only through shellQuote: bad input ends in Vxlg 9031
// and FAILED before anything runs.
#pragma once

#include <string>
#include <vector>

#include "engine/FixupTask.h"

namespace vxl_fixup {

class FixupData;
class NLSError;
class Result;

class sTaskUserGroupFixup : public FixupTask {
public:
    explicit sTaskUserGroupFixup(FixupData* data);
    ~sTaskUserGroupFixup() override;

    // A new Result the caller owns, never null; an identifier outside this
    // family gives an empty UNKNOWN Result.
    Result* fix(FixupData* data) override;
    using FixupTask::fix;

    // Users and groups. Each fix method returns a new Result the caller owns:
    // SUCCESSFUL when the account exists with the id afterwards, WARNING for
    // a user that exists after a failed creation, FAILED with the Vxlg error
    // and the tool's native error otherwise.
    Result* fixTaskUserExistence(FixupData* data);
    Result* fixTaskGroupExistence(FixupData* data);
    // Group name and id are optional; when both are given the group is made
    // right first and its Result carries on as the user's.
    Result* fixUser(const std::string* userName, const std::string* userId,
                    const std::string* groupName, const std::string* groupId);
    Result* fixGroup(const std::string* groupName, const std::string* groupId);
    // Existence checks; their commands never touch a task's Result. The id
    // is -1 when the tool's output is not a number, unchanged without output.
    bool isUserExisting(const std::string* userName, long& uid);
    bool isGroupExisting(const std::string* groupName, long& gid);
    // The home directory field of the account's own passwd line, held by
    // result as its output; null (Vxlg 9057, FAILED) when there is none.
    const std::string* retrieveHomeDirLocal(const std::string* userName, Result* result);

    // Group membership: primary (usermod -g; the old primary group stays as a
    // supplementary one) or supplementary (usermod -G with every group the
    // user already has).
    Result* fixTaskUserGroupMembership(FixupData* data);
    Result* createGroupMembership(const std::string* userName, const std::string* groupName,
                                  bool primary);
    // Appends the user's group names to groups, comma-separated (the primary
    // group only, or all); false when they cannot be listed.
    bool retrieveGroupsForUser(const std::string* userName, bool primary, std::string& groups);

    // A name the account tools read as a name and nothing else: letters,
    // digits, "_", "." and "-", not starting with "-" or ".", optionally
    // ending in "$", and not digits only (id and usermod would take it as a
    // number).
    static bool isAccountName(const std::string& name);
    // A whole decimal id: "0" or digits without a leading zero, within long.
    static bool parseAccountId(const std::string& text, long& id);

private:
    // The value of the last data item of that name, or null.
    static const std::string* dataValue(FixupData* data, const std::string& name);
    // Traces message under source, adds Vxlg 9031 and sets FAILED.
    static void refuseInput(const std::string& source, const std::string& message, Result* result);
    // A Vxlg error with the display flag and these arguments.
    static NLSError* accountError(int number, const std::vector<std::string>& arguments);
    struct AccountWords {
        const char* title;       // at the start of a trace sentence
        const char* inSentence;  // inside one
        const char* lower;
        const char* idName;
        const char* idOption;
        int changeError;
    };
    static const AccountWords kGroupWords;
    static const AccountWords kUserWords;
    // An existing group or user: SUCCESSFUL when its id already matches,
    // otherwise the change tool (groupmod, usermod) gives it id; FAILED with
    // the change error when the tool fails.
    void correctExistingId(const std::string& source, const AccountWords& words,
                           const std::string* tool, const std::string& name, const std::string& id,
                           bool idMatches, Result* result);
    // grep's "^name:": the name as the whole first field of an account line.
    static std::string firstFieldPattern(const std::string& name);

    std::string* m_groupAddCmd;
    std::string* m_userAddCmd;
    std::string* m_userModCmd;
    std::string* m_groupModCmd;
    std::string* m_idCmd;
    std::string* m_grepCmd;
    std::string* m_passwdFile;
};

}  // namespace vxl_fixup
