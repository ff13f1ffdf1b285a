// The daemon task family: operating-system daemons that interfere with the
// cluster software are stopped with the service tool and taken out of the
// start-up configuration with chkconfig. Only "avahi-daemon" and "proxyt" are
// handled; any other name is refused before anything runs. One object per
// task; fix(FixupData*) dispatches on the task identifier number.
#pragma once

#include <string>

#include "engine/FixupTask.h"

namespace vxl_fixup {

class FixupData;
class Result;

class sTaskDaemonProcesses : public FixupTask {
public:
    explicit sTaskDaemonProcesses(FixupData* data);
    ~sTaskDaemonProcesses() override;

    // A new Result the caller owns; identifiers without a fix method here
    // give an empty UNKNOWN Result.
    Result* fix(FixupData* data) override;
    using FixupTask::fix;

    // "TASKDAEMONLIVELINESS": nothing to do; an empty UNKNOWN Result.
    Result* fixTaskDaemonLiveliNess(FixupData* data);
    // "TASKDAEMONNOTRUNNING": the daemon named by the last "NAME" item.
    Result* fixTaskDaemonNotRunning(FixupData* data);

    // Stops the daemon when it runs and removes it from start-up. FAILED
    // with Vxlg 9031 (no or empty name), 9060 (name not supported; nothing
    // run), 9061 (stop failed; start-up left as it was) or 9062 (removal
    // from start-up failed). A daemon that does not run is only removed from
    // start-up; "proxyt" only when chkconfig knows it (otherwise UNKNOWN).
    Result* stopAndDeconfigureDaemonProcess(const std::string* name);

    // True when ps lists a process of that command name. Otherwise adds
    // Vxlg 9063 (name, node). The Result keeps the ps run's outcome.
    bool isDaemonProcessRunning(const std::string* name, Result* result);
    void stopAndDeconfigureDaemon(Result* result, const std::string* name);
    void deconfigureDaemonProcess(Result* result, const std::string* name);
    // Removes proxyt from start-up only when chkconfig lists it; that check
    // leaves no trace in result.
    void deconfigureProxytDaemonProcess(Result* result);

private:
    std::string* m_chkconfigCmd;
    std::string* m_proxytDaemon;
    std::string* m_avahiDaemon;
    std::string* m_psCmd;
    std::string* m_serviceCmd;
};

}  // namespace vxl_fixup
