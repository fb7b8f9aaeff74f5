#include "platform/fault_injection.h"

#include <utility>

namespace vantory::platform {

namespace {
FaultHook& hook() {
    static FaultHook instance;
    return instance;
}
}  // namespace

namespace detail {

std::atomic<bool> faultHookSet{false};

int callFaultHook(Operation operation, std::string_view path, std::string_view other) {
    const FaultHook& current = hook();
    return current ? current(operation, path, other) : 0;
}

}  // namespace detail

void setFaultHook(FaultHook next) {
    detail::faultHookSet.store(false, std::memory_order_relaxed);
    hook() = std::move(next);
    detail::faultHookSet.store(static_cast<bool>(hook()), std::memory_order_release);
}

}  // namespace vantory::platform
