#include "tasks/daemon/sTaskDaemonProcesses.h"

#include <memory>
#include <vector>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "util/FixupUtil.h"
#include "util/ShellQuote.h"

namespace vxl_fixup {

namespace {

const char* nodeName() { return Constants::localNodeNameOrEmpty().c_str(); }

// Adds number (name, node, command text, native errors) and sets FAILED.
void addToolError(Result* result, int number, const std::string& name, const std::string& tool,
                  const std::vector<const std::string*>& args) {
    const std::string command = FixupUtil::commandText(tool, args);
    result->addError(new NLSError(NLS_FACILITY_VXLG, true, number, 4, name.c_str(), nodeName(),
                                  command.c_str(), result->nativeErrorText().c_str()));
    result->setStatus(FAILED);
}

}  // namespace

sTaskDaemonProcesses::sTaskDaemonProcesses(FixupData* data)
    : FixupTask(data),
      m_chkconfigCmd(new std::string("/sbin/chkconfig")),
      m_proxytDaemon(new std::string("proxyt")),
      m_avahiDaemon(new std::string("avahi-daemon")),
      m_psCmd(new std::string("/bin/ps")),
      m_serviceCmd(new std::string("/sbin/service")) {}

sTaskDaemonProcesses::~sTaskDaemonProcesses() {
    for (std::string** member :
         {&m_chkconfigCmd, &m_proxytDaemon, &m_avahiDaemon, &m_psCmd, &m_serviceCmd}) {
        delete *member;
        *member = nullptr;
    }
}

Result* sTaskDaemonProcesses::fix(FixupData* data) {
    static const std::string source = "sTaskDaemonProcesses::fix";
    TraceScope scope(source);
    const std::string* id = getTaskID();
    Trace::trace(source, "Fixing " + (id ? *id : std::string()), TRACE_DETAIL);
    if (data == nullptr) return new Result();
    switch (data->getTaskID()) {
        case 11:
            return fixTaskDaemonLiveliNess(data);
        case 12:
            return fixTaskDaemonNotRunning(data);
        default:
            return new Result();
    }
}

Result* sTaskDaemonProcesses::fixTaskDaemonLiveliNess(FixupData*) {
    TraceScope scope("sTaskDaemonProcesses::fixTaskDaemonLiveliNess");
    return new Result();
}

Result* sTaskDaemonProcesses::fixTaskDaemonNotRunning(FixupData* data) {
    TraceScope scope("sTaskDaemonProcesses::fixTaskDaemonNotRunning");
    const std::string* name = nullptr;
    for (const NameValuePair* item : data->getDataSet()) {
        if (*item->name == "NAME") name = item->value;
    }
    return stopAndDeconfigureDaemonProcess(name);
}

Result* sTaskDaemonProcesses::stopAndDeconfigureDaemonProcess(const std::string* name) {
    static const std::string source = "sTaskDaemonProcesses::stopAndDeconfigureDaemonProcess";
    TraceScope scope(source);
    Result* result = new Result();
    if (name == nullptr || name->empty()) {
        Trace::trace(source, "Daemon name not provided for the daemon to be stopped/removed",
                     TRACE_DETAIL);
        FixupUtil::refuseInput(result);
        return result;
    }
    if (!FixupUtil::acceptArgumentWords(source, {name}, result)) return result;
    if (*name != *m_avahiDaemon && *name != *m_proxytDaemon) {
        Trace::trace(source, "Fix-up operations not supported for daemon or process " + *name,
                     TRACE_DETAIL);
        result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9060, 1, name->c_str()));
        result->setStatus(FAILED);
        return result;
    }
    if (isDaemonProcessRunning(name, result)) {
        Trace::trace(source, "Found " + *name + " Daemon running, hence stopping it", TRACE_DETAIL);
        stopAndDeconfigureDaemon(result, name);
        return result;
    }
    Trace::trace(source,
                 "Not Found " + *name +
                     " Daemon running, attempting to deconfigure it before reporting success",
                 TRACE_DETAIL);
    // Not running is what the task asks for: the ps outcome is no failure.
    result->clear();
    if (*name == *m_proxytDaemon) {
        deconfigureProxytDaemonProcess(result);
    } else {
        deconfigureDaemonProcess(result, name);
    }
    return result;
}

bool sTaskDaemonProcesses::isDaemonProcessRunning(const std::string* name, Result* result) {
    TraceScope scope("sTaskDaemonProcesses::isDaemonProcessRunning");
    if (name == nullptr || result == nullptr) return false;
    // The state of every process with exactly this command name, no header.
    const std::string options = "-o stat -H h -C";
    const std::string quotedName = shellQuote(*name);
    if (FixupUtil::runExeSucceeded(m_psCmd, {&options, &quotedName}, result)) return true;
    result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9063, 2, name->c_str(), nodeName()));
    return false;
}

void sTaskDaemonProcesses::stopAndDeconfigureDaemon(Result* result, const std::string* name) {
    static const std::string source = "sTaskDaemonProcesses::stopAndDeconfigureDaemon";
    TraceScope scope(source);
    if (name == nullptr || result == nullptr) return;
    const std::string quotedName = shellQuote(*name);
    const std::string stop = "stop";
    const std::vector<const std::string*> args{&quotedName, &stop};
    if (!FixupUtil::runExeSucceeded(m_serviceCmd, args, result)) {
        addToolError(result, 9061, *name, *m_serviceCmd, args);
        return;
    }
    Trace::trace(source, "Stopped " + *name + " daemon successfully", TRACE_DETAIL);
    if (*name == *m_proxytDaemon) {
        deconfigureProxytDaemonProcess(result);
    } else {
        deconfigureDaemonProcess(result, name);
    }
}

void sTaskDaemonProcesses::deconfigureDaemonProcess(Result* result, const std::string* name) {
    static const std::string source = "sTaskDaemonProcesses::deconfigureDaemonProcess";
    TraceScope scope(source);
    if (name == nullptr || result == nullptr) return;
    const std::string quotedName = shellQuote(*name);
    const std::string off = "off";
    const std::vector<const std::string*> args{&quotedName, &off};
    if (FixupUtil::runExeSucceeded(m_chkconfigCmd, args, result)) return;
    Trace::trace(source, "Daemon " + *name + " could not be permanently removed for reboot",
                 TRACE_DETAIL);
    addToolError(result, 9062, *name, *m_chkconfigCmd, args);
}

void sTaskDaemonProcesses::deconfigureProxytDaemonProcess(Result* result) {
    static const std::string source = "sTaskDaemonProcesses::deconfigureProxytDaemonProcess";
    TraceScope scope(source);
    if (result == nullptr) return;
    const std::string list = "--list";
    Result check;
    if (FixupUtil::runExeSucceeded(m_chkconfigCmd, {&list, m_proxytDaemon}, &check)) {
        Trace::trace(source,
                     *m_proxytDaemon + " is found configured, attempting it to deconfigure it",
                     TRACE_DETAIL);
        deconfigureDaemonProcess(result, m_proxytDaemon);
    } else {
        Trace::trace(source, *m_proxytDaemon + " is not found configured", TRACE_DETAIL);
    }
}

}  // namespace vxl_fixup
