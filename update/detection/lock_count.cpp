#include "lock_count.h"

#include <atomic>

namespace korvane::update {
namespace {

std::atomic<long> g_locks{0};

}  // namespace

void LockModule() noexcept { ++g_locks; }
void UnlockModule() noexcept { --g_locks; }
bool ModuleIsUnused() noexcept { return g_locks == 0; }

}  // namespace korvane::update
