#include "platform/hotkeys/X11HotkeyBackend.h"

#include <QObject>
#include <QSocketNotifier>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "core/log/Log.h"
#include "platform/hotkeys/X11KeyMapping.h"

namespace corvane {
namespace {

// Collects the errors of one display while grabs are made. Xlib reports errors asynchronously
// and its default handler ends the process, so grabs run under this trap followed by XSync.
// Errors of other connections go on to the handler that was installed before.
struct ErrorTrap {
    Display* display = nullptr;
    int count = 0;
    int firstCode = 0;
    XErrorHandler previous = nullptr;
};
std::atomic<ErrorTrap*> gActiveTrap{nullptr};

int trapError(Display* display, XErrorEvent* error) {
    ErrorTrap* trap = gActiveTrap.load();
    if (trap && display == trap->display) {
        if (trap->count++ == 0) trap->firstCode = error->error_code;
        return 0;
    }
    if (trap && trap->previous) return trap->previous(display, error);
    return 0;
}

// Installs the trap for its lifetime; main thread only (never nested).
class ScopedErrorTrap {
public:
    explicit ScopedErrorTrap(Display* display) {
        trap_.display = display;
        gActiveTrap.store(&trap_);
        trap_.previous = XSetErrorHandler(trapError);
    }
    ~ScopedErrorTrap() {
        XSetErrorHandler(trap_.previous);
        gActiveTrap.store(nullptr);
    }
    ScopedErrorTrap(const ScopedErrorTrap&) = delete;
    ScopedErrorTrap& operator=(const ScopedErrorTrap&) = delete;

    // Waits for the server to answer everything sent so far; returns the first error's code.
    int sync() {
        XSync(trap_.display, False);
        return trap_.count == 0 ? 0 : trap_.firstCode;
    }

private:
    ErrorTrap trap_;
};

unsigned numLockMaskOf(Display* display) {
    const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    if (numLock == 0) return 0;
    unsigned mask = 0;
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map) return 0;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < map->max_keypermod; ++i) {
            if (map->modifiermap[modifier * map->max_keypermod + i] == numLock) {
                mask |= 1u << modifier;
            }
        }
    }
    XFreeModifiermap(map);
    // NumLock sharing a modifier with one a shortcut uses would make that shortcut unreachable.
    return mask & ~static_cast<unsigned>(ShiftMask | ControlMask | Mod1Mask | Mod4Mask);
}

std::string keysymText(uint32_t keysym) {
    const char* name = XKeysymToString(keysym);
    return name ? name : std::to_string(keysym);
}

// Numbers of the log line that are not X protocol errors.
constexpr int kNoKeycodeCode = -1;

HotkeyBindStatus statusOfXError(int code) {
    return code == BadAccess ? HotkeyBindStatus::inUseByAnotherProgram
                             : HotkeyBindStatus::unavailable;
}

}  // namespace

struct X11HotkeyBackend::Impl {
    struct Grab {
        std::string id;
        uint32_t keysym = 0;
        unsigned modifiers = 0;
        KeyCode keycode = 0;        // 0 while not held on the server
        unsigned numLockMask = 0;   // the NumLock mask its variants were made with
    };

    Display* display = nullptr;
    Window root = 0;
    unsigned numLockMask = 0;
    bool detectableRepeat = false;
    bool suspended = false;
    std::unique_ptr<QSocketNotifier> notifier;
    QObject drainContext;  // queued drains are dropped with the backend
    bool drainPosted = false;
    std::vector<Grab> grabs;
    std::array<bool, 256> keyDown{};
    size_t autoRepeatsIgnored = 0;
    ActivationHandler onActivated;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    std::vector<unsigned> lockVariants(unsigned locks) const {
        std::vector<unsigned> variants{0, LockMask};
        if (locks != 0) {
            variants.push_back(locks);
            variants.push_back(locks | LockMask);
        }
        return variants;
    }

    HotkeyBindResult grabOnServer(Grab& grab) {
        const KeyCode keycode = XKeysymToKeycode(display, grab.keysym);
        if (keycode == 0) return {HotkeyBindStatus::keyNotOnKeyboard, kNoKeycodeCode, {}};
        for (const Grab& other : grabs) {
            if (&other != &grab && other.keycode == keycode && other.modifiers == grab.modifiers) {
                // What the server would answer for a second grab of ours: BadAccess.
                return {HotkeyBindStatus::duplicateInSet, BadAccess, {}};
            }
        }
        const std::vector<unsigned> variants = lockVariants(numLockMask);
        ScopedErrorTrap trap(display);
        for (const unsigned variant : variants) {
            XGrabKey(display, keycode, grab.modifiers | variant, root, False, GrabModeAsync,
                     GrabModeAsync);
        }
        const int error = trap.sync();
        if (error != 0) {
            // Some variants may have been granted: a half-working shortcut is worse than none.
            for (const unsigned variant : variants) {
                XUngrabKey(display, keycode, grab.modifiers | variant, root);
            }
            trap.sync();
            postDrain();
            return {statusOfXError(error), error, {}};
        }
        grab.keycode = keycode;
        grab.numLockMask = numLockMask;
        postDrain();
        return {};
    }

    void ungrabOnServer(Grab& grab) {
        if (grab.keycode == 0) return;
        keyDown[grab.keycode] = false;  // its release may never come
        ScopedErrorTrap trap(display);
        for (const unsigned variant : lockVariants(grab.numLockMask)) {
            XUngrabKey(display, grab.keycode, grab.modifiers | variant, root);
        }
        trap.sync();
        grab.keycode = 0;
        postDrain();
    }

    void ungrabAll() {
        for (Grab& grab : grabs) ungrabOnServer(grab);
        grabs.clear();
    }

    // XSync may have read events into Xlib's queue, where the socket notifier cannot see them.
    void postDrain() {
        if (drainPosted) return;
        drainPosted = true;
        QMetaObject::invokeMethod(
            &drainContext,
            [this] {
                drainPosted = false;
                readEvents();
            },
            Qt::QueuedConnection);
    }

    // Grabs again what a mapping change or a suspension let go; `why` ends the log line of a
    // grab that another program took meanwhile.
    void regrab(const char* why) {
        for (Grab& grab : grabs) {
            const KeyCode keycode = XKeysymToKeycode(display, grab.keysym);
            if (grab.keycode != 0 && grab.keycode == keycode && grab.numLockMask == numLockMask) {
                continue;
            }
            ungrabOnServer(grab);
            const HotkeyBindResult result = grabOnServer(grab);
            if (result.status != HotkeyBindStatus::bound) {
                logLine("Hotkey " + keysymText(grab.keysym) + " lost " + why + " (status " +
                        std::to_string(result.code) + ")");
            }
        }
    }

    // Mapping changes are frequent (a different keyboard device becoming active sends one), so
    // only grabs whose key or NumLock modifier really moved are made again.
    void regrabAfterMappingChange() {
        numLockMask = numLockMaskOf(display);
        if (!suspended) regrab("after a keyboard mapping change");
    }

    // A release directly followed by a press of the same key at the same time is auto-repeat
    // on servers without detectable auto-repeat; both are dropped.
    bool releaseIsAutoRepeat(const XKeyEvent& release) {
        if (detectableRepeat || XEventsQueued(display, QueuedAfterReading) == 0) return false;
        XEvent next;
        XPeekEvent(display, &next);
        if (next.type == KeyPress && next.xkey.keycode == release.keycode &&
            next.xkey.time == release.time) {
            XNextEvent(display, &next);
            ++autoRepeatsIgnored;
            return true;
        }
        return false;
    }

    void readEvents() {
        std::vector<std::string> pressed;
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            switch (event.type) {
                case KeyPress: {
                    const unsigned keycode = event.xkey.keycode & 0xff;
                    if (keyDown[keycode]) {  // held down: auto-repeat
                        ++autoRepeatsIgnored;
                        break;
                    }
                    keyDown[keycode] = true;
                    const unsigned modifiers =
                        event.xkey.state & 0xff & ~(LockMask | numLockMask);
                    for (const Grab& grab : grabs) {
                        if (grab.keycode == keycode && grab.modifiers == modifiers) {
                            pressed.push_back(grab.id);
                        }
                    }
                    break;
                }
                case KeyRelease:
                    if (!releaseIsAutoRepeat(event.xkey)) keyDown[event.xkey.keycode & 0xff] = false;
                    break;
                case MappingNotify:
                    if (event.xmapping.request == MappingKeyboard ||
                        event.xmapping.request == MappingModifier) {
                        // At once: the presses that follow use the new mapping.
                        XRefreshKeyboardMapping(&event.xmapping);
                        regrabAfterMappingChange();
                    }
                    break;
                default:
                    break;
            }
        }

        // The handler may bind, unbind or even destroy this backend.
        const std::weak_ptr<bool> stillAlive = alive;
        for (const std::string& id : pressed) {
            if (stillAlive.expired()) return;
            const ActivationHandler handler = onActivated;
            if (handler) handler(id);
        }
    }
};

std::unique_ptr<X11HotkeyBackend> X11HotkeyBackend::open(const char* displayName) {
    Display* display = XOpenDisplay(displayName);
    if (!display) return nullptr;
    return std::unique_ptr<X11HotkeyBackend>(new X11HotkeyBackend(display));
}

X11HotkeyBackend::X11HotkeyBackend(Display* display) : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    d.display = display;
    d.root = DefaultRootWindow(d.display);
    d.numLockMask = numLockMaskOf(d.display);
    Bool supported = False;
    d.detectableRepeat = XkbSetDetectableAutoRepeat(d.display, True, &supported) && supported;
    d.notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(d.display),
                                                   QSocketNotifier::Read);
    QObject::connect(d.notifier.get(), &QSocketNotifier::activated, &d.drainContext,
                     [&d] { d.readEvents(); });
    d.postDrain();
}

X11HotkeyBackend::~X11HotkeyBackend() {
    Impl& d = *impl_;
    d.ungrabAll();
    d.notifier.reset();
    XCloseDisplay(d.display);
}

std::string X11HotkeyBackend::name() const { return "X11 key grabs"; }

size_t X11HotkeyBackend::autoRepeatsIgnored() const { return impl_->autoRepeatsIgnored; }

void X11HotkeyBackend::bind(const std::vector<HotkeyBinding>& bindings, BindCompletion done) {
    Impl& d = *impl_;
    d.ungrabAll();
    std::vector<HotkeyBindResult> results;
    results.reserve(bindings.size());
    for (const HotkeyBinding& binding : bindings) {
        const std::optional<uint32_t> keysym = x11KeysymForKeyCode(binding.combination.keyCode);
        if (!keysym) {
            results.push_back({HotkeyBindStatus::keyNotOnKeyboard, kNoKeycodeCode, {}});
            continue;
        }
        Impl::Grab grab{binding.id, *keysym, x11ModifiersForMask(binding.combination.modifiers)};
        // While suspended the set is only kept; resuming grabs it.
        HotkeyBindResult result;
        if (!d.suspended) result = d.grabOnServer(grab);
        if (result.status == HotkeyBindStatus::bound) d.grabs.push_back(grab);
        results.push_back(result);
    }
    if (done) done(std::move(results));
}

void X11HotkeyBackend::unbindAll() { impl_->ungrabAll(); }

void X11HotkeyBackend::setSuspended(bool suspended) {
    Impl& d = *impl_;
    if (suspended == d.suspended) return;
    d.suspended = suspended;
    if (suspended) {
        for (Impl::Grab& grab : d.grabs) d.ungrabOnServer(grab);
    } else {
        d.regrab("while global shortcuts were suspended");
    }
}

void X11HotkeyBackend::setActivationHandler(ActivationHandler handler) {
    impl_->onActivated = std::move(handler);
}

}  // namespace corvane
