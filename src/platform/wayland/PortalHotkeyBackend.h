#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/shortcuts/HotkeyBackend.h"
#include "core/shortcuts/ShortcutRebinder.h"

class QDBusMessage;
class QDBusServiceWatcher;

namespace corvane {

// One entry of the portal's shortcut lists, a(sa{sv}): the id and its properties (description
// and preferred_trigger going out; description and trigger_description coming back).
struct PortalShortcutEntry {
    QString id;
    QVariantMap properties;
};
QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcutEntry& entry);
const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcutEntry& entry);
// Makes the entry and its list known to QtDBus; once per process is enough, more is harmless.
void registerPortalShortcutTypes();

// Global shortcuts on a Wayland desktop, through the desktop portal's GlobalShortcuts interface
// (org.freedesktop.portal.GlobalShortcuts). The desktop, not the program, owns the keys: it is
// handed each binding's id, description and preferred trigger (written by portalTriggerFor), may
// show the set to the user and assign other keys, and says in its answer what it assigned; that
// becomes the result's assignedTrigger. A press comes back as Activated with the binding's id.
//
// One portal session carries the bindings: the first bind() creates it; a later bind() is another
// BindShortcuts on it (the portal replaces the set); unbindAll() closes it, since the portal has
// no call that removes shortcuts, and the next bind() opens a new one. Suspending drops
// activations: the desktop still takes the keys, so the recorder cannot see them as plain keys
// here.
//
// The desktop may drop the session by itself: it closes it (Closed), or the portal leaves the bus
// (a restart or a crash), which ends every session it held. The newest set is then bound again
// on a new session, at the times ShortcutRebinder decides; a bind() or unbindAll() of ours ends
// that, and so does suspending, until the resume.
//
// Thread: main thread (construction, calls, destruction); `scheduler` runs there and outlives
// the back end. Answers and activations arrive through the main event loop on a bus connection
// of the back end's own, whose unique name the portal uses in its request paths.
class PortalHotkeyBackend final : public QObject, public HotkeyBackend {
    Q_OBJECT

public:
    // The code of a binding the desktop left out of its answer (the user declined it).
    static constexpr int kNotAssignedCode = -3;
    // The code of every binding of a set sent while no portal was on the bus.
    static constexpr int kNoPortalCode = -4;

    // Nothing when the session bus has no desktop portal offering global shortcuts; `whyNot`
    // (when given) then says why, lower case. One round trip on the bus. `busAddress`: the
    // session bus when empty (tests give a bus of their own).
    static std::unique_ptr<PortalHotkeyBackend> open(Scheduler& scheduler, std::string* whyNot = nullptr,
                                                     const QString& busAddress = {});
    ~PortalHotkeyBackend() override;

    std::string name() const override { return "GlobalShortcuts portal"; }
    void bind(const std::vector<HotkeyBinding>& bindings, BindCompletion done) override;
    void unbindAll() override;
    void setSuspended(bool suspended) override;
    void setActivationHandler(ActivationHandler handler) override { onActivated_ = std::move(handler); }

private slots:
    void onResponse(uint code, const QVariantMap& results, const QDBusMessage& message);
    void onActivated(const QDBusMessage& message);
    void onSessionClosed(const QDBusMessage& message);
    void onPortalOwnerChanged(const QString& service, const QString& oldOwner, const QString& newOwner);

private:
    enum class RequestKind { createSession, bindShortcuts };
    struct PendingRequest {
        RequestKind kind;
        uint64_t generation;  // the bind() it serves
    };

    PortalHotkeyBackend(QDBusConnection bus, Scheduler& scheduler);
    // Binds bindings_ on the open session, or opens one first.
    void startBinding();
    // One of the rebinder's attempts: bindings_ again.
    void rebind(std::function<void(ShortcutRebinder::Outcome)> done);
    void createSession();
    void sendBind();
    // Calls a GlobalShortcuts method that answers through a Request object.
    void request(RequestKind kind, const QString& method, QVariantList arguments, QVariantMap options);
    void answer(const QString& requestPath, int code, const QVariantMap& results);
    void finishBind(int code, const QVariantMap& results);
    void refuseAll(int code);
    void closeSession();
    // Forgets the session without a word to the portal (it closed it).
    void forgetSession();
    // Forgets the session and every request under way: the portal that had them left the bus.
    void forgetPortalState();

    QDBusConnection bus_;
    QString session_;  // empty: none open
    bool creatingSession_ = false;
    uint64_t generation_ = 0;
    uint64_t tokens_ = 0;
    std::vector<HotkeyBinding> bindings_;    // the set of the last bind()
    std::vector<HotkeyBindResult> results_;  // decided before sending (duplicates, unknown keys)
    std::vector<size_t> sent_;               // which of bindings_ went to the portal
    BindCompletion done_;
    std::function<void(ShortcutRebinder::Outcome)> rebindDone_;  // the rebinder's attempt under way
    std::map<QString, PendingRequest> requests_;  // by Request object path
    ActivationHandler onActivated_;
    bool suspended_ = false;
    std::unique_ptr<QDBusServiceWatcher> portalOwnerWatcher_;
    ShortcutRebinder rebinder_;
};

}  // namespace corvane

Q_DECLARE_METATYPE(corvane::PortalShortcutEntry)
