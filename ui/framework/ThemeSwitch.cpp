#include "ui/framework/ThemeSwitch.h"

#include <atomic>

namespace {
std::atomic<bool> g_themesAllowed{true};
}

void SetThemesAllowed(bool allowed) { g_themesAllowed.store(allowed); }

bool AreThemesAllowed() { return g_themesAllowed.load(); }
