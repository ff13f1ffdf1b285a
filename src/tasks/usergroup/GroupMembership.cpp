// Group membership: make a user a member of a group, as its primary group
// (usermod -g) or as a supplementary one (usermod -G, which replaces the whole
// supplementary list, so the list passed holds every group the user has).
#include <memory>
#include <string>
#include <vector>

#include "engine/Constants.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/Result.h"
#include "tasks/usergroup/sTaskUserGroupFixup.h"
#include "util/FixupUtil.h"
#include "util/ShellQuote.h"

namespace vxl_fixup {

Result* sTaskUserGroupFixup::fixTaskUserGroupMembership(FixupData* data) {
    TraceScope scope("sTaskUserGroupFixup::fixTaskUserGroupMembership");
    const std::string* expected = data->getExpectedValue();
    const bool primary = expected != nullptr && *expected == "PRIMARY_GROUP";
    return createGroupMembership(dataValue(data, "USER"), dataValue(data, "GROUP"), primary);
}

bool sTaskUserGroupFixup::retrieveGroupsForUser(const std::string* userName, bool primary,
                                                std::string& groups) {
    static const std::string source = "sTaskUserGroupFixup::retrieveGroupsForUser";
    TraceScope scope(source);
    if (userName == nullptr || !isAccountName(*userName)) return false;
    const std::string option = primary ? "-ng" : "-nG";
    Trace::trace(source,
                 "Retrieving " + std::string(primary ? "Primary" : "All") +
                     " groups in which user (" + *userName +
                     ") has a membership, by running command " + *m_idCmd + " " + option + " " +
                     *userName,
                 TRACE_DETAIL);
    Result listing;
    const std::string quotedName = shellQuote(*userName);
    if (FixupUtil::runExe(m_idCmd, {&option, &quotedName}, &listing, false) != 0) {
        Trace::trace(source, "Failed to retrieve the list of user's groups, hence returning false",
                     TRACE_DETAIL);
        return false;
    }
    const std::string* output = listing.getOutput();
    if (output != nullptr && !output->empty()) {
        Trace::trace(source, "Output of the command is " + *output, TRACE_DETAIL);
        for (const std::string& word : FixupUtil::splitStringBySpaces(*output, false)) {
            if (word.empty()) continue;
            if (!groups.empty()) groups += ",";
            groups += word;
        }
    }
    return true;
}

Result* sTaskUserGroupFixup::createGroupMembership(const std::string* userName,
                                                   const std::string* groupName, bool primary) {
    static const std::string source = "sTaskUserGroupFixup::createGroupMembership";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    if (userName == nullptr || groupName == nullptr) {
        refuseInput(source,
                    "Group name Or user name not provided for the group membership to be "
                    "created, returning Failure.",
                    result.get());
        return result.release();
    }
    const std::string& user = *userName;
    const std::string& group = *groupName;
    const std::string& node = Constants::localNodeNameOrEmpty();
    Trace::trace(source,
                 "creating group membership (" +
                     std::string(primary ? "PRIMARY" : "SUPPLEMENTARY") + ") for user (" + user +
                     ") in group (" + group + ")",
                 TRACE_DETAIL);
    Trace::trace(source, "Processing with inputs \ngroupName=" + group + "\nuserName=" + user,
                 TRACE_DETAIL);
    if (!FixupUtil::acceptArgumentWords(source, {userName, groupName}, result.get())) {
        return result.release();
    }
    if (!isAccountName(user) || !isAccountName(group)) {
        refuseInput(source,
                    "User name (" + user + ") or group name (" + group +
                        ") is not a valid account name, returning Failure.",
                    result.get());
        return result.release();
    }
    long gid = -1;
    long uid = -1;
    const bool groupExists = isGroupExisting(groupName, gid);
    const bool userExists = isUserExisting(userName, uid);
    if (!userExists || !groupExists) {
        if (!userExists) {
            Trace::trace(
                source, "Not Creating the group membership as user (" + user + ") does not exists.",
                TRACE_DETAIL);
            result->addError(accountError(9034, {user, node}));
        }
        if (!groupExists) {
            Trace::trace(
                source,
                "Not Creating the group membership as group (" + group + ") does not exists.",
                TRACE_DETAIL);
            result->addError(accountError(9035, {group, node}));
        }
        result->addError(accountError(9036, {user, group, node}));
        result->setStatus(FAILED);
        return result.release();
    }
    Trace::trace(source,
                 "User (" + user + ") and Group (" + group + ") are found existing on this node.",
                 TRACE_DETAIL);
    std::string current;
    if (!retrieveGroupsForUser(userName, primary, current)) {
        result->addError(accountError(9037, {user, node}));
        return result.release();
    }
    Trace::trace(source, "User (" + user + ") currently has membership in (" + current + ")",
                 TRACE_DETAIL);
    const std::string quotedUser = shellQuote(user);

    if (primary) {
        if (current == group) {
            Trace::trace(source,
                         "User (" + user + ") already has primary membership in (" + group + ")",
                         TRACE_DETAIL);
            result->setStatus(SUCCESSFUL);
            return result.release();
        }
        const std::string option = "-g " + shellQuote(group);
        if (FixupUtil::runExe(m_userModCmd, {&option, &quotedUser}, result.get(), false) != 0) {
            Trace::trace(source,
                         "Failed to add group (" + group + ") as a Primary group for user (" +
                             user + ") on this node.",
                         TRACE_DETAIL);
            result->setStatus(FAILED);
            return result.release();
        }
        Trace::trace(source,
                     "Successfully added group (" + group + ") as a Primary group for user (" +
                         user + ") on this node.",
                     TRACE_DETAIL);
        if (current.empty()) {
            result->setStatus(SUCCESSFUL);
            return result.release();
        }
        // The user keeps its membership in the group it had.
        return createGroupMembership(userName, &current, false);
    }

    for (const std::string& name : FixupUtil::splitStringByDelim(current, ",")) {
        if (name == group) {
            Trace::trace(source,
                         "Group (" + group + ") is already a supplementary group for user (" +
                             user + ") on this node.",
                         TRACE_DETAIL);
            result->setStatus(SUCCESSFUL);
            return result.release();
        }
    }
    const std::string option = "-G " + shellQuote(current.empty() ? group : current + "," + group);
    if (FixupUtil::runExe(m_userModCmd, {&option, &quotedUser}, result.get(), false) == 0) {
        Trace::trace(source,
                     "Successfully created group membership for user (" + user + ") in a group (" +
                         group + ") on this node.",
                     TRACE_DETAIL);
    } else {
        Trace::trace(source,
                     "Failed to create group membership for user (" + user + ") in a group (" +
                         group + ") on this node.",
                     TRACE_DETAIL);
        result->addError(accountError(9036, {user, group, node}));
        result->setStatus(FAILED);
    }
    return result.release();
}

}  // namespace vxl_fixup
