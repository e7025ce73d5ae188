// The logon task on Linux: the package installs systemd units that run
// `quorvel auto precise` at boot and daily, so the program manages no task
// of its own; `install` and `uninstall` say how to switch those on and off.

#include "logon_task.h"

namespace {

const char kTimerAdvice[] =
    "Nothing installed: on Linux the package's systemd units run quorvel auto precise "
    "(quorvel.service at boot, quorvel.timer daily); "
    "switch them on with: sudo systemctl enable quorvel.service && sudo systemctl enable --now quorvel.timer";
const char kTimerOffAdvice[] =
    "Nothing removed: on Linux the package's systemd units run quorvel auto precise "
    "(quorvel.service at boot, quorvel.timer daily); "
    "switch them off with: sudo systemctl disable quorvel.service && sudo systemctl disable --now quorvel.timer";

}  // namespace

LogonTaskState AfxGetLogonTaskState()
{
    return LogonTaskState::Unsupported;
}

BOOL AfxInstallLogonTask(std::string* report)
{
    *report = kTimerAdvice;
    return FALSE;
}

BOOL AfxUninstallLogonTask(std::string* report)
{
    *report = kTimerOffAdvice;
    return FALSE;
}
