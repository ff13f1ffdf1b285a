#include "PlanReport.h"

#include <cctype>
#include <set>

#include "JsonText.h"
#include "util/ShellQuote.h"

namespace vxl_cli {

namespace {

struct TaskNote {
    const char* task;
    const char* text;
};

const char* const kScriptNote =
    "its fix-up script runs in the copy; kernel values as for TASKKERNELPARAM.";
const char* const kAccountsNote =
    "accounts held by a directory service (LDAP, NIS, sssd) cannot be looked up in the copy, "
    "which has its own network: only the local account files are shown.";

// What differs between the copy and the node for each task; tasks whose
// every effect stays in the file system have no entry.
const TaskNote kTaskNotes[] = {
    {"TASKKERNELPARAM",
     "running values are read from this machine and the new ones kept in the copy: whether "
     "the kernel accepts a new value shows only in a run."},
    {"TASKRUNLEVEL",
     "systemctl calls are recorded, not made: the default target does not change in the copy "
     "(a change of /etc/inittab is shown in full)."},
    {"TASKPACKAGE",
     "packages are installed into the copy: their files are listed and the package database "
     "named; service calls of their scripts are recorded, not made."},
    {"TASKCHECKRPMPACKAGEMANAGER",
     "rpm --rebuilddb renames the database directory, which the copy cannot do to a directory "
     "of this machine: there the rebuild fails where a run may succeed."},
    {"ENABLED_HUGE_PAGE", kScriptNote},
    {"REVERSE_PATH_FILTER", kScriptNote},
    {"CHECK_ARP_PARAM_SETTINGS", kScriptNote},
    {"CHECK_VM_MIN_FREE_KBYTES", kScriptNote},
    {"CHECK_CURRENT_CLOCKSOURCE",
     "the clock source is written to a copy of the kernel's control file: whether the kernel "
     "takes it shows only in a run."},
    {"CHECK_DEFAULTTASKSMAX",
     "systemctl daemon-reload is recorded, not made: the service manager does not re-read its "
     "settings in the copy."},
    {"TASKUSEREXISTENCE", kAccountsNote},
    {"TASKGROUPEXISTENCE", kAccountsNote},
    {"TASKGROUPMEMBERSHIP", kAccountsNote},
    {"TASKQVRLIBCHECKS",
     "the driver restart (/etc/init.d/kelvaneqvr restart) is recorded, not made: whether the "
     "driver starts with the new settings shows only in a run."},
    {"TASKPINNODES",
     "membview runs in the copy, which cannot reach the cluster: its list of unpinned nodes "
     "cannot be trusted; qhmctl pin is recorded, not made."},
    {"TASKQHMRESOURCEPARAMS", "qhmctl set is recorded, not made: the cluster does not change."},
    {"CHECK_HWT_RESOURCE",
     "rescmd status runs in the copy, which cannot reach the cluster: its answer cannot be "
     "trusted; rescmd disable and stop are recorded, not made."},
    {"TASKDAEMONNOTRUNNING",
     "ps sees this machine's processes; service and chkconfig calls are recorded, not made, so "
     "a daemon keeps running; chkconfig --list answers as if the daemon were configured."},
};

const char* const kWholePlanNote =
    "the copy has its own network: what a run would reach over the network (other nodes, a "
    "directory service) is out of reach in it.";

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string commandText(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : " ") + vxl_fixup::shellQuote(w);
    return text;
}

void section(std::ostream& out, const char* title, bool empty) {
    out << "\n== " << title << " ==\n";
    if (empty) out << "  (none)\n";
}

template <typename T, typename F>
void jsonList(std::ostream& out, const char* name, const std::vector<T>& items, F each,
              bool last = false) {
    out << "  " << json(name) << ": [";
    for (size_t i = 0; i < items.size(); ++i) {
        out << (i ? ",\n    " : "\n    ");
        each(items[i]);
    }
    out << (items.empty() ? "]" : "\n  ]") << (last ? "\n" : ",\n");
}

}  // namespace

std::vector<PlanLimit> planLimits(const std::vector<Outcome>& outcomes) {
    std::vector<PlanLimit> limits;
    std::set<std::string> seen;
    for (const Outcome& o : outcomes) {
        const std::string task = upper(o.task);
        if (!seen.insert(task).second) continue;
        for (const TaskNote& note : kTaskNotes) {
            if (task == note.task) limits.push_back({o.task, note.text});
        }
    }
    limits.push_back({"", kWholePlanNote});
    return limits;
}

void printPlanText(const PlanReport& r, std::ostream& out) {
    out << "Plan of " << r.document << " for node " << r.node
        << ": the library ran it in a copy of this machine; nothing here changed.\n";
    section(out, "outcomes, as a run would record them", false);
    printOutcomeTable(r.outcomes, out);
    section(out, "commands the library ran", r.commands.empty());
    for (const std::string& c : r.commands) out << "  " << c << "\n";
    section(out, "files a run would change", r.files.empty());
    for (const PlannedFile& f : r.files) {
        out << f.change << " " << f.path << " (" << f.kind;
        if (f.kind == "private") out << ": not readable by everyone, not shown";
        if (f.kind == "binary" || f.kind == "package database") out << ", not shown";
        out << ")" << (f.details.empty() ? "" : ": " + f.details) << "\n" << f.diff;
    }
    section(out, "kernel values a run would change", r.kernelValues.empty());
    for (const KernelChange& k : r.kernelValues) {
        out << "  " << k.key << ": " << k.before << " -> " << k.after << "\n";
    }
    section(out, "service and cluster calls a run would make (recorded here, not made)",
            r.recordedCalls.empty());
    for (const auto& call : r.recordedCalls) out << "  " << commandText(call) << "\n";
    section(out, "what the plan cannot show", r.limits.empty());
    for (const PlanLimit& l : r.limits) {
        out << "  " << (l.task.empty() ? "every task" : l.task) << ": " << l.text << "\n";
    }
    out << "\n";
    if (!r.error.empty()) out << "The run would stop: " << r.error << "\n";
    if (r.changesNothing()) out << "A run would change nothing.\n";
}

void printPlanJson(const PlanReport& r, std::ostream& out) {
    out << "{\n  \"document\": " << json(r.document) << ",\n  \"node\": " << json(r.node)
        << ",\n  \"outputDocument\": " << json(r.outputDocument)
        << ",\n  \"exitCode\": " << r.exitCode << ",\n  \"error\": " << json(r.error)
        << ",\n  \"changesNothing\": " << (r.changesNothing() ? "true" : "false") << ",\n";
    jsonList(out, "outcomes", r.outcomes, [&](const Outcome& o) { out << outcomeJson(o); });
    jsonList(out, "commands", r.commands, [&](const std::string& c) { out << json(c); });
    jsonList(out, "files", r.files, [&](const PlannedFile& f) {
        out << "{\"path\": " << json(f.path) << ", \"change\": " << json(f.change)
            << ", \"kind\": " << json(f.kind) << ", \"details\": " << json(f.details)
            << ", \"diff\": " << json(f.diff) << "}";
    });
    jsonList(out, "kernelValues", r.kernelValues, [&](const KernelChange& k) {
        out << "{\"key\": " << json(k.key) << ", \"before\": " << json(k.before)
            << ", \"after\": " << json(k.after) << "}";
    });
    jsonList(out, "recordedCalls", r.recordedCalls,
             [&](const std::vector<std::string>& call) { out << jsonStrings(call); });
    jsonList(
        out, "cannotShow", r.limits,
        [&](const PlanLimit& l) {
            out << "{\"task\": " << json(l.task) << ", \"text\": " << json(l.text) << "}";
        },
        true);
    out << "}\n";
}

}  // namespace vxl_cli
