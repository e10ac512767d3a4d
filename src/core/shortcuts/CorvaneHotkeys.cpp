#include "core/shortcuts/CorvaneHotkeys.h"

#include <cassert>

#include "core/log/Log.h"

namespace corvane {
namespace {

constexpr std::string_view kBindingIdPrefix = "profile-";

std::string bindingIdFor(int32_t id) { return std::string(kBindingIdPrefix) + std::to_string(id); }

std::string refusalReason(HotkeyBindStatus status) {
    switch (status) {
        case HotkeyBindStatus::inUseByAnotherProgram: return "in use by another program";
        case HotkeyBindStatus::duplicateInSet: return "an earlier profile has the same shortcut";
        case HotkeyBindStatus::keyNotOnKeyboard: return "no key of the keyboard layout makes it";
        case HotkeyBindStatus::unavailable: return "global shortcuts are not available";
        case HotkeyBindStatus::bound: break;
    }
    return "refused";
}

}  // namespace

CorvaneHotkeys::CorvaneHotkeys(std::unique_ptr<HotkeyBackend> backend)
    : backend_(std::move(backend)) {
    assert(backend_);
    backend_->setActivationHandler([this](const std::string& id) { handleActivation(id); });
}

CorvaneHotkeys::~CorvaneHotkeys() {
    unregisterAll();
    backend_->setActivationHandler(nullptr);
}

void CorvaneHotkeys::registerHotKeys(const std::vector<HotkeyRequest>& requests) {
    mainThread_.assertOnOwnerThread("CorvaneHotkeys::registerHotKeys");
    if (suspendCount_ > 0) {
        deferredWhileSuspended_ = requests;
        return;
    }
    bindNow(requests);
}

void CorvaneHotkeys::bindNow(const std::vector<HotkeyRequest>& requests) {
    registrations_.clear();
    std::vector<HotkeyBinding> bindings;
    for (const HotkeyRequest& request : requests) {
        Registration& registration = registrations_.emplace_back();
        registration.request = request;
        registration.combination = parseShortcut(request.shortcut);
        if (registration.combination) {
            bindings.push_back({bindingIdFor(request.id), *registration.combination,
                                request.description});
        }
    }
    const uint64_t generation = ++generation_;
    backend_->bind(bindings, [this, generation](std::vector<HotkeyBindResult> results) {
        finishBind(generation, std::move(results));
    });
}

void CorvaneHotkeys::finishBind(uint64_t generation, std::vector<HotkeyBindResult> results) {
    if (generation != generation_) return;  // superseded
    size_t next = 0;
    for (Registration& registration : registrations_) {
        const std::string& shortcut = registration.request.shortcut;
        if (!registration.combination) {
            logLine("Failed to parse shortcut: '" + shortcut + "'");
            continue;
        }
        registration.result = next < results.size()
                                   ? results[next]
                                   : HotkeyBindResult{HotkeyBindStatus::unavailable, -2, {}};
        ++next;
        const HotkeyBindResult& result = *registration.result;
        if (result.status != HotkeyBindStatus::bound) {
            logLine("Error binding global shortcut (" + std::to_string(result.code) + ") for '" +
                    displayString(shortcut) + "': " + refusalReason(result.status));
            continue;
        }
        logLine("Hotkey registered: [" + displayString(shortcut) + "] -> Action ID " +
                std::to_string(registration.request.id));
        if (!result.assignedTrigger.empty()) {
            logLine("The desktop assigned \"" + result.assignedTrigger + "\" to \"" +
                    registration.request.description + "\"");
        }
    }
}

void CorvaneHotkeys::unregisterAll() {
    mainThread_.assertOnOwnerThread("CorvaneHotkeys::unregisterAll");
    ++generation_;  // a pending answer no longer applies
    registrations_.clear();
    deferredWhileSuspended_.reset();
    backend_->unbindAll();
}

size_t CorvaneHotkeys::registeredCount() const {
    size_t count = 0;
    for (const Registration& registration : registrations_) {
        if (registration.result && registration.result->status == HotkeyBindStatus::bound) ++count;
    }
    return count;
}

void CorvaneHotkeys::suspend() {
    if (suspendCount_++ == 0) backend_->setSuspended(true);
}

void CorvaneHotkeys::resume() {
    if (suspendCount_ == 0) return;
    if (--suspendCount_ > 0) return;
    backend_->setSuspended(false);
    if (deferredWhileSuspended_) {
        const std::vector<HotkeyRequest> requests = std::move(*deferredWhileSuspended_);
        deferredWhileSuspended_.reset();
        bindNow(requests);
    }
}

std::optional<HotkeyBindStatus> CorvaneHotkeys::statusOf(std::string_view shortcut) const {
    const std::optional<ParsedShortcut> combination = parseShortcut(shortcut);
    if (!combination) return std::nullopt;
    // The first registration of a combination is the one the back end decided on; later ones
    // with the same combination are refused as duplicates.
    for (const Registration& registration : registrations_) {
        if (registration.combination == combination) {
            if (!registration.result) return std::nullopt;
            return registration.result->status;
        }
    }
    return std::nullopt;
}

void CorvaneHotkeys::handleActivation(const std::string& bindingId) {
    for (const Registration& registration : registrations_) {
        if (!registration.combination || bindingIdFor(registration.request.id) != bindingId) {
            continue;
        }
        // A copy: the callback may re-register, which would change the list and the callback.
        const std::function<void(int32_t)> callback = onHotKeyTriggered;
        if (callback) callback(registration.request.id);
        return;
    }
}

}  // namespace corvane
