#include "tasks/system/sTaskSystemSettings.h"

#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/Result.h"

namespace vxl_fixup {

sTaskSystemSettings::sTaskSystemSettings(FixupData* data)
    : FixupTask(data),
      m_sysctlCmd(new std::string("/sbin/sysctl")),
      m_systemctlCmd(new std::string("/bin/systemctl")),
      m_rpmCmd(new std::string("/bin/rpm")),
      m_rmCmd(new std::string("/bin/rm")),
      m_echoCmd(new std::string("/bin/echo")),
      m_sysctlConfFile(new std::string("/etc/sysctl.conf")),
      m_limitsConfFile(new std::string("/etc/security/limits.conf")),
      m_limitsConfDir(new std::string("/etc/security/limits.d")),
      m_inittabFile(new std::string("/etc/inittab")),
      m_networkFile(new std::string("/etc/sysconfig/network")),
      m_sedCmd(new std::string("/bin/sed")) {}

sTaskSystemSettings::~sTaskSystemSettings() {
    for (std::string** member :
         {&m_sysctlCmd, &m_systemctlCmd, &m_rpmCmd, &m_rmCmd, &m_echoCmd, &m_sysctlConfFile,
          &m_limitsConfFile, &m_limitsConfDir, &m_inittabFile, &m_networkFile, &m_sedCmd}) {
        delete *member;
        *member = nullptr;
    }
}

Result* sTaskSystemSettings::fix(FixupData* data) {
    const std::string* id = getTaskID();
    Trace::trace("sTaskSystemSettings::fix", "Fixing " + (id ? *id : std::string()), TRACE_DETAIL);
    if (data == nullptr) return new Result();
    switch (data->getTaskID()) {
        case 1:
            return fixTaskShellLimit(data);
        case 2:
            return fixTaskKernelParam(data);
        case 5:
            return fixTaskPackage(data);
        case 7:
            return fixTaskRunLevel(data);
        case 14:
            return fixTaskRPMDatabase(data);
        case 24:
        case 25:
            return fixMemlockMaxLimit(data);
        case 20:
            return fixTaskZeroConf(data);
        case 22:
            return fixTaskHugePages(data);
        case 27:
            return fixTaskRPFilters(data);
        case 28:
            return fixTaskDefaultTasksMax(data);
        case 29:
            return fixTaskARPParamSettings(data);
        case 30:
            return fixCurrentClocksource(data);
        case 31:
            return fixVMMinFreeKBytes(data);
        case 32:
            return fixLogindIPCSettings(data);
        // 15, 16, 21 and 26 belong to this family but have no fix.
        default:
            return new Result();
    }
}

}  // namespace vxl_fixup
