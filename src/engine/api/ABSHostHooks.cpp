#include "engine/api/ABSHostHooks.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace kova {

namespace {

std::mutex& HooksMutex() {
    static std::mutex mutex;
    return mutex;
}

TABSHostHooks& InstalledHooks() {
    static TABSHostHooks hooks;
    return hooks;
}

std::atomic<bool> quietSwitch{false};
std::atomic<int> quietScopes{0};

} // namespace

TABSHostHooks SetHostHooks(TABSHostHooks hooks) {
    std::lock_guard lock(HooksMutex());
    TABSHostHooks previous = std::move(InstalledHooks());
    InstalledHooks() = std::move(hooks);
    return previous;
}

TABSHostHooks HostHooks() {
    std::lock_guard lock(HooksMutex());
    return InstalledHooks();
}

void SetOpenPromptsSuppressed(bool suppressed) noexcept { quietSwitch = suppressed; }

bool OpenPromptsSuppressed() noexcept { return quietSwitch || quietScopes > 0; }

TABSQuietOpenScope::TABSQuietOpenScope() noexcept { ++quietScopes; }

TABSQuietOpenScope::~TABSQuietOpenScope() { --quietScopes; }

TABSWaitScope::TABSWaitScope(const std::string& message) : hooks_(HostHooks()) {
    if (hooks_.BeginWait) {
        hooks_.BeginWait(message);
        shown_ = true;
    }
}

TABSWaitScope::~TABSWaitScope() {
    if (shown_ && hooks_.EndWait) hooks_.EndWait();
}

bool TABSWaitScope::Progress(int percent) {
    if (!shown_ || !hooks_.WaitProgress) return true;
    return hooks_.WaitProgress(std::clamp(percent, 0, 100));
}

} // namespace kova
