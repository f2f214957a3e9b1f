// Module-wide state of PravikContext.dll: the instance handle and the lock
// count that DllCanUnloadNow reports (live objects plus server locks).
#pragma once

#include <windows.h>

namespace pravik {

HINSTANCE ModuleInstance();
void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();

}  // namespace pravik
