// Users and groups: create a missing user or group with the expected id, or
// correct the id of an existing one, with the node's account tools.
#include <memory>
#include <string>

#include "engine/Constants.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/Result.h"
#include "tasks/usergroup/sTaskUserGroupFixup.h"
#include "util/FixupUtil.h"
#include "util/ShellQuote.h"

namespace vxl_fixup {

namespace {

const std::string kGroupFile = "/etc/group";

const std::string& nodeName() { return Constants::localNodeNameOrEmpty(); }

}  // namespace

// How the traces name a group and a user, the change tool's id option and
// the error of a failed id change.
// clang-format off
const sTaskUserGroupFixup::AccountWords sTaskUserGroupFixup::kGroupWords{
    "Group", "group", "group", "GID", "-g ", 9039};
const sTaskUserGroupFixup::AccountWords sTaskUserGroupFixup::kUserWords{
    "User", "User", "user", "UID", "-u ", 9038};
// clang-format on

void sTaskUserGroupFixup::correctExistingId(const std::string& source, const AccountWords& words,
                                            const std::string* tool, const std::string& name,
                                            const std::string& id, bool idMatches, Result* result) {
    const std::string title = words.title;
    if (idMatches) {
        Trace::trace(source,
                     title + " (" + name + ") found already existing on this node with the same " +
                         words.lower + " ID, hence not creating " + words.lower,
                     TRACE_DETAIL);
        result->setStatus(SUCCESSFUL);
        return;
    }
    Trace::trace(source,
                 title + " (" + name + ") found already existing but has different " +
                     words.idName + ", Correcting " + words.idName + " of the " + words.lower +
                     " to " + id,
                 TRACE_DETAIL);
    const std::string idOption = words.idOption + shellQuote(id);
    const std::string quotedName = shellQuote(name);
    const std::string change = std::string(words.inSentence) + " (" + name + ")  " + words.idName +
                               " to (" + id + ") on this node.";
    if (FixupUtil::runExe(tool, {&idOption, &quotedName}, result, false) == 0) {
        Trace::trace(source, "Successfully modified " + change, TRACE_DETAIL);
        result->setStatus(SUCCESSFUL);
    } else {
        Trace::trace(source, "Failed to modify " + change, TRACE_DETAIL);
        result->addError(accountError(words.changeError, {name, id, nodeName()}));
        result->setStatus(FAILED);
    }
}

Result* sTaskUserGroupFixup::fixTaskUserExistence(FixupData* data) {
    TraceScope scope("sTaskUserGroupFixup::fixTaskUserExistence");
    return fixUser(dataValue(data, "USER"), dataValue(data, "UID"), dataValue(data, "GROUP"),
                   dataValue(data, "GID"));
}

Result* sTaskUserGroupFixup::fixTaskGroupExistence(FixupData* data) {
    TraceScope scope("sTaskUserGroupFixup::fixTaskGroupExistence");
    return fixGroup(dataValue(data, "GROUP"), dataValue(data, "GID"));
}

Result* sTaskUserGroupFixup::fixGroup(const std::string* groupName, const std::string* groupId) {
    static const std::string source = "sTaskUserGroupFixup::fixGroup";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    if (groupName == nullptr || groupId == nullptr) {
        refuseInput(source,
                    "Group name Or Group ID not provided for the group to be created, returning "
                    "Failure.",
                    result.get());
        return result.release();
    }
    const std::string& name = *groupName;
    const std::string& id = *groupId;
    Trace::trace(source, "fixing group (" + name + ")", TRACE_DETAIL);
    Trace::trace(source, "Processing with inputs \ngroupName=" + name + "\ngroupID=" + id,
                 TRACE_DETAIL);
    long gid = -1;
    if (!parseAccountId(id, gid)) {
        refuseInput(source,
                    "Group ID provided for the group to be created is not correct or not numeric, "
                    "returning failure",
                    result.get());
        return result.release();
    }
    if (!FixupUtil::acceptArgumentWords(source, {groupName}, result.get())) {
        return result.release();
    }
    if (!isAccountName(name)) {
        refuseInput(source,
                    "Group name (" + name + ") is not a valid group name, returning failure",
                    result.get());
        return result.release();
    }
    long existingGid = -1;
    if (isGroupExisting(groupName, existingGid)) {
        correctExistingId(source, kGroupWords, m_groupModCmd, name, id, existingGid == gid,
                          result.get());
        return result.release();
    }
    Trace::trace(
        source,
        "Creating the group (" + name + ") by running command " + *m_groupAddCmd + " " + name,
        TRACE_DETAIL);
    const std::string idOption = "-g " + shellQuote(id);
    const std::string quotedName = shellQuote(name);
    if (FixupUtil::runExe(m_groupAddCmd, {&idOption, &quotedName}, result.get(), false) == 0) {
        Trace::trace(source, "Successfully created group (" + name + ") on this node.",
                     TRACE_DETAIL);
    } else {
        Trace::trace(source, "Failed to create the group (" + name + ") on this node.",
                     TRACE_DETAIL);
        result->addError(accountError(9033, {name, nodeName()}));
        result->setStatus(FAILED);
    }
    return result.release();
}

Result* sTaskUserGroupFixup::fixUser(const std::string* userName, const std::string* userId,
                                     const std::string* groupName, const std::string* groupId) {
    static const std::string source = "sTaskUserGroupFixup::fixUser";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    if (userName == nullptr || userId == nullptr) {
        refuseInput(source,
                    "User name Or User ID  not provided for the user to be created, returning "
                    "failure",
                    result.get());
        return result.release();
    }
    const std::string& name = *userName;
    const std::string& id = *userId;
    Trace::trace(source, "Processing with inputs \nuserName=" + name + "\nuserID=" + id,
                 TRACE_DETAIL);
    // Every input is checked before the group step runs anything, so a bad
    // user id never leaves a half-made account behind.
    long uid = -1;
    long gid = -1;
    if (!parseAccountId(id, uid)) {
        refuseInput(source,
                    "User ID provided for the user to be created is not correct or not numeric, "
                    "returning failure",
                    result.get());
        return result.release();
    }
    if (groupId != nullptr && !parseAccountId(*groupId, gid)) {
        refuseInput(source,
                    "Group ID provided for the group to be created is not correct or not numeric, "
                    "returning failure",
                    result.get());
        return result.release();
    }
    if (!FixupUtil::acceptArgumentWords(source, {userName, groupName}, result.get())) {
        return result.release();
    }
    if (!isAccountName(name) || (groupName != nullptr && !isAccountName(*groupName))) {
        refuseInput(source,
                    "User name (" + name +
                        ") or its group name is not a valid account name, returning failure",
                    result.get());
        return result.release();
    }
    if (groupName != nullptr && groupId != nullptr) {
        std::unique_ptr<Result> group(fixGroup(groupName, groupId));
        if (!group->isSuccessFul()) {
            Trace::trace(source,
                         "Failed to validate/create the primary group required for the user "
                         "creation. Primary group inputs \ngroupName=" +
                             *groupName + "\ngroupID=" + *groupId,
                         TRACE_DETAIL);
            return group.release();
        }
        result = std::move(group);  // the user's outcome carries the group's
    }
    Trace::trace(source, "creating user (" + name + ") with User ID as (" + id + ")", TRACE_DETAIL);
    long existingUid = -1;
    if (isUserExisting(userName, existingUid)) {
        correctExistingId(source, kUserWords, m_userModCmd, name, id, existingUid == uid,
                          result.get());
        return result.release();
    }

    Trace::trace(
        source, "Creating the user (" + name + ") by running command " + *m_userAddCmd + " " + name,
        TRACE_DETAIL);
    const std::string uidOption = "-u " + shellQuote(id);
    const std::string quotedName = shellQuote(name);
    const std::string groupOption =
        groupName != nullptr ? "-g " + shellQuote(*groupName) : std::string();
    const std::string homeOption = "-m " + quotedName;
    const std::string* group = groupName != nullptr ? &groupOption : nullptr;  // null: left out
    if (FixupUtil::runExe(m_userAddCmd, {&uidOption, group, &homeOption}, result.get(), false) ==
        0) {
        Trace::trace(source, "Successfully created User (" + name + ") on this node.",
                     TRACE_DETAIL);
        result->setStatus(SUCCESSFUL);
        return result.release();
    }
    long ignored = -1;
    if (!isUserExisting(userName, ignored)) {
        if (FixupUtil::runExe(m_userAddCmd, {&uidOption, group, &quotedName}, result.get(),
                              false) == 0) {
            Trace::trace(
                source,
                "Successfully created User (" + name + ") without home directory on this node.",
                TRACE_DETAIL);
            result->setStatus(WARNING);
        } else {
            Trace::trace(source, "Failed to create the user (" + name + ") on this node.",
                         TRACE_DETAIL);
            result->addError(
                accountError(9032, {name, nodeName(), *m_userAddCmd, result->nativeErrorText()}));
            result->setStatus(FAILED);
        }
        if (!isUserExisting(userName, ignored)) return result.release();
    }
    Trace::trace(
        source,
        "Created User (" + name + ") on this node, but command resulted in an error or warning.",
        TRACE_DETAIL);
    result->setStatus(WARNING);
    const std::string* home = retrieveHomeDirLocal(userName, result.get());
    if (home != nullptr) {
        const std::string path = *home;
        result->setStatus(WARNING);
        Trace::trace(source,
                     "Retrieved the home directory for newly added User (" + name +
                         ") on this node, The home directory path is " + path,
                     TRACE_DETAIL);
        if (!FixupUtil::checkFileExistence(&path)) {
            Trace::trace(source,
                         "The home directory path " + path +
                             " for the newly created user's home does not exists",
                         TRACE_DETAIL);
            result->addError(accountError(9049, {path, name, nodeName()}));
        }
    }
    return result.release();
}

bool sTaskUserGroupFixup::isUserExisting(const std::string* userName, long& uid) {
    static const std::string source = "sTaskUserGroupFixup::isUserExisting";
    TraceScope scope(source);
    if (userName == nullptr || !isAccountName(*userName)) return false;
    Trace::trace(
        source,
        "Checking if user already exists by running command " + *m_idCmd + " " + *userName + " -u",
        TRACE_DETAIL);
    Result check;
    const std::string quotedName = shellQuote(*userName);
    const std::string option = "-u";
    if (FixupUtil::runExe(m_idCmd, {&quotedName, &option}, &check, false) != 0) {
        Trace::trace(source, "User does not exist on this node, hence returning false",
                     TRACE_DETAIL);
        uid = -1;
        return false;
    }
    Trace::trace(source,
                 "User (" + *userName +
                     ") found already existing on this node, hence returning "
                     "true",
                 TRACE_DETAIL);
    const std::string* output = check.getOutput();
    if (output != nullptr && !output->empty()) {
        Trace::trace(source, "parsing UID returned by command in output (" + *output + ") to long",
                     TRACE_DETAIL);
        if (!parseAccountId(FixupUtil::trimWhiteSpaces(*output), uid)) uid = -1;
    }
    return true;
}

bool sTaskUserGroupFixup::isGroupExisting(const std::string* groupName, long& gid) {
    static const std::string source = "sTaskUserGroupFixup::isGroupExisting";
    TraceScope scope(source);
    if (groupName == nullptr || !isAccountName(*groupName)) return false;
    const std::string& name = *groupName;
    Trace::trace(source,
                 "Checking if group already exists by running command " + *m_grepCmd + " ^" + name +
                     ": " + kGroupFile,
                 TRACE_DETAIL);
    const std::string pattern = shellQuote(firstFieldPattern(name));
    const std::string file = shellQuote(kGroupFile);
    const std::string thirdField = "| cut -f3 -d:";
    Result check;
    if (FixupUtil::runExe(m_grepCmd, {&pattern, &file}, &check, true) != 0) {
        Trace::trace(source, "Group not found existing on this node, hence returning false",
                     TRACE_DETAIL);
        return false;
    }
    Trace::trace(source,
                 "Group (" + name + ") found already existing on this node, Now retrieving GID",
                 TRACE_DETAIL);
    if (FixupUtil::runExe(m_grepCmd, {&pattern, &file, &thirdField}, &check, true) != 0) {
        return false;
    }
    Trace::trace(source,
                 "Group (" + name + ") found already existing on this node, hence returning true",
                 TRACE_DETAIL);
    const std::string* output = check.getOutput();
    if (output != nullptr && !output->empty()) {
        Trace::trace(source, "parsing GID returned by command in output (" + *output + ") to long",
                     TRACE_DETAIL);
        if (!parseAccountId(FixupUtil::trimWhiteSpaces(*output), gid)) gid = -1;
    }
    return true;
}

const std::string* sTaskUserGroupFixup::retrieveHomeDirLocal(const std::string* userName,
                                                             Result* result) {
    static const std::string source = "sTaskUserGroupFixup::retrieveHomeDirLocal";
    TraceScope scope(source);
    if (result == nullptr) return nullptr;
    const std::string name = userName ? *userName : std::string();
    if (isAccountName(name)) {
        // Only the account's own line: its name as the whole first field.
        const std::string command = "cat " + shellQuote(*m_passwdFile) + " | grep " +
                                    shellQuote(firstFieldPattern(name)) + " | awk -F: '{print $6}'";
        Trace::trace(source,
                     "Retrieving Home directory for user (" + name + ")" + " By running command (" +
                         command + ")",
                     TRACE_DETAIL);
        const int rc = FixupUtil::runCommand(&command, result, false);
        const std::string* home = result->getOutput();
        if (rc == 0 && home != nullptr && !home->empty()) return home;
    }
    result->addError(accountError(9057, {name, nodeName()}));
    result->setStatus(FAILED);
    return nullptr;
}

}  // namespace vxl_fixup
