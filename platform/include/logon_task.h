// The logon task: the system starts this program with "auto precise" at
// every logon, so the clock is set without anybody there. The Windows
// backend registers a Task Scheduler task named "Quorvel" (Task Scheduler
// 2.0, Vista and later) or, on XP, puts a shortcut in the Startup folder;
// on Linux the package's systemd timer does this job, and the program has
// no task of its own to manage.
#pragma once

#include <string>

#include "win32api.h"

enum class LogonTaskState {
    Unsupported,  // the system starts the program by other means
    Absent,
    Present,
};

LogonTaskState AfxGetLogonTaskState();

// Registers the task, replacing one of the same name. TRUE on success.
// Either way `report` gets one English line (no line end) saying what was
// done, or why not.
BOOL AfxInstallLogonTask(std::string* report);

// Removes the task. TRUE when it is gone (also when there was none); the
// line in `report` as for AfxInstallLogonTask.
BOOL AfxUninstallLogonTask(std::string* report);
