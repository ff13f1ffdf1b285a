// The operating-system settings task family: kernel parameters, shell limits,
// packages, run level and other kernel and service settings. One object per
// task; fix(FixupData*) dispatches on the task identifier number.
#pragma once

#include <string>

#include "engine/FixupTask.h"

namespace vxl_fixup {

class FixupData;
class Result;

class sTaskSystemSettings : public FixupTask {
public:
    explicit sTaskSystemSettings(FixupData* data);
    ~sTaskSystemSettings() override;

    // A new Result the caller owns; identifiers without a fix method here
    // give an empty UNKNOWN Result.
    Result* fix(FixupData* data) override;
    using FixupTask::fix;

    // Kernel parameters.
    Result* fixTaskKernelParam(FixupData* data);
    Result* fixKernelParam(const std::string* name, const std::string* currExpected,
                           const std::string* confExpected, const std::string* confPath);
    bool getCurrentKernelParamValue(const std::string& key, Result* result);
    bool setCurrentKernelParamValue(const std::string& key, const std::string& value,
                                    Result* result);
    Result* updateEntryInSysctlConfFile(const std::string* name, const std::string* key,
                                        const std::string* runningValue,
                                        const std::string* confExpected,
                                        const std::string* confPath);
    // True when value needs no correction; otherwise corrected holds the
    // value to set (or stays as given when no rule applies).
    bool compareAndCorrectValues(const std::string* name, const std::string* value,
                                 const std::string* expected, std::string& corrected);
    // The value that should stand under the at-least (exact false) or exact
    // rule; unparsable texts give expected.
    std::string correctNumericValue(const std::string& value, const std::string& expected,
                                    bool exact);

    // The sysctl key of a parameter short name, or null when unknown.
    static const std::string* sysctlKeyOf(const std::string& shortName);

    // Shell limits, locked memory, run level, packages and the package
    // database. Each fix returns a new Result the caller owns; bad or missing
    // input ends in Vxlg 9031 (FAILED) before anything is run or written, and
    // every file rewrite is all or nothing (Vxlg 9030 on failure).
    //
    // One limit (USER plus one of SOFT_FILES, SOFT_PROCESS, SOFT_STACK,
    // HARD_FILES, HARD_PROCESS, HARD_STACK) in limits.conf and in every
    // limits.d/*.conf file that already defines it, after checking that the
    // SSH daemon uses PAM (Vxlh 1002 when it does not, Vxlf 5718 when the
    // check cannot run). Vxlg 9030 for limits.conf when it is missing and no
    // limits.d file took the limit either.
    Result* fixTaskShellLimit(FixupData* data);
    // Hard and soft memlock for USER at the expected value, in the limits
    // file whose absolute path the task's first script prints.
    Result* fixMemlockMaxLimit(FixupData* data);
    // The one limits-line editor: the value field of every "user type item"
    // line of file is set to newValue (an unlimited value is kept except for
    // stack); without such a line a comment and the entry are appended. The
    // value must be a number or "unlimited"/"infinity"; no field may hold a
    // blank, and the file is written only when a line changed.
    Result* fixShellLimit(const std::string* user, const std::string* type, const std::string* item,
                          const std::string* newValue, const std::string* file);
    // The default target through systemctl (POST_DV7_SYSTEM "true") or the
    // initdefault line of the init table.
    Result* fixTaskRunLevel(FixupData* data);
    // True when the package (".rpm" dropped) is installed; the query's report
    // is then the result's output. A name that is not a plain package file
    // name is never queried and counts as not installed.
    bool isPackageInstalled(const std::string& name, Result* result);
    // Installs NAME from the directory LOC unless installed, handing GROUP to
    // the package's scripts as VEXELQDISK_GRP; Vxlg 9045 when rpm fails.
    Result* fixTaskPackage(FixupData* data);
    // Removes the package database's __db.* files and rebuilds it.
    Result* fixTaskRPMDatabase(FixupData* data);
    // The value of the last data item named name (the one that counts), or
    // null; owned by data.
    static const std::string* lastDataValue(const FixupData* data, const char* name);

    // Other kernel and service settings. Each returns a new Result the caller
    // owns. All but fixTaskDefaultTasksMax run the task's first fix-up script
    // and act on the one line it prints, checked whole before anything is run
    // or written: no script, or an output holding a line break or NUL, is
    // FAILED with Vxlg 9031; a failed script gives its own Result; an empty
    // output or one not in the task's format is FAILED with the task's
    // data-unavailable error (Vxlg 10530 with the task's word; 9068 for huge
    // pages; 9050 for a zeroconf line that cannot be parsed). Steps fold into
    // the task's Result: errors are kept and the worst status wins.
    Result* fixTaskZeroConf(FixupData* data);
    Result* fixTaskHugePages(FixupData* data);
    Result* fixTaskRPFilters(FixupData* data);
    Result* fixTaskDefaultTasksMax(FixupData* data);
    Result* fixTaskARPParamSettings(FixupData* data);
    Result* fixCurrentClocksource(FixupData* data);
    Result* fixVMMinFreeKBytes(FixupData* data);
    Result* fixLogindIPCSettings(FixupData* data);

private:
    // Sets a running kernel value; a new Result, FAILED with Vxlg 9026 (key,
    // sysctl path, node) when sysctl refuses.
    Result* setRunningValueStep(const std::string& key, const std::string& value);

    std::string* m_sysctlCmd;
    std::string* m_systemctlCmd;
    std::string* m_rpmCmd;
    std::string* m_rmCmd;
    std::string* m_echoCmd;
    std::string* m_sysctlConfFile;
    std::string* m_limitsConfFile;
    std::string* m_limitsConfDir;
    std::string* m_inittabFile;
    std::string* m_networkFile;
    std::string* m_sedCmd;
};

}  // namespace vxl_fixup
