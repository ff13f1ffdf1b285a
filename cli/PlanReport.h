// The report of "vxlfixup plan": what a run of a fix-up document would change
// on this node, as a person reads it or as one JSON document.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "OutcomeTable.h"

namespace vxl_cli {

// A file, directory or link the run would create, modify or delete.
struct PlannedFile {
    std::string path;
    std::string change;  // "created", "modified", "deleted"
    // "text", "binary", "package database", "private" (not readable by
    // everyone), "directory", "symlink", "other"
    std::string kind;
    std::string diff;     // text files: a unified diff with its "---"/"+++" lines
    std::string details;  // what else changed: "mode 644 -> 640", "owner ...", "-> target"
};

// A kernel value (a sysctl key or a kernel control file under /sys).
struct KernelChange {
    std::string key;
    std::string before;
    std::string after;
};

// Something the plan cannot show, for one task or (task empty) the whole plan.
struct PlanLimit {
    std::string task;
    std::string text;
};

struct PlanReport {
    std::string document;
    std::string node;
    std::string outputDocument;  // its path in the copy
    int exitCode = 0;            // what "vxlfixup run" would exit with
    std::string error;           // the run's error text, if it stopped
    std::vector<Outcome> outcomes;
    std::vector<std::string> commands;  // the library's commands, in order
    std::vector<PlannedFile> files;
    std::vector<KernelChange> kernelValues;
    std::vector<std::vector<std::string>> recordedCalls;  // tool path, then its arguments
    std::vector<PlanLimit> limits;

    bool changesNothing() const {
        return files.empty() && kernelValues.empty() && recordedCalls.empty();
    }
};

// What the plan cannot show for each task of the outcomes (once per task, in
// their order) and for every plan.
std::vector<PlanLimit> planLimits(const std::vector<Outcome>& outcomes);

void printPlanText(const PlanReport& report, std::ostream& out);
void printPlanJson(const PlanReport& report, std::ostream& out);

}  // namespace vxl_cli
