#pragma once
// The count of live objects, class factories and server locks that
// DllCanUnloadNow reports.

namespace korvane::update {

// Every live object and every IClassFactory::LockServer(TRUE) holds one.
void LockModule() noexcept;
void UnlockModule() noexcept;

// True when nothing holds the module.
bool ModuleIsUnused() noexcept;

}  // namespace korvane::update
