#include "platform/wayland/PortalHotkeyBackend.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QList>
#include <QVariantMap>

#include <atomic>
#include <utility>

#include "core/log/Log.h"
#include "platform/wayland/PortalNames.h"
#include "platform/wayland/PortalShortcutTrigger.h"

namespace corvane {
namespace {

const QString kShortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
constexpr int kProbeTimeoutMs = 3000;
constexpr int kPortalCancelled = 1;  // the portal's answer when the user turned its dialog down
constexpr int kPortalFailed = 2;     // the portal's own "other error" answer

const char* const kResponseSlot = SLOT(onResponse(uint, QVariantMap, QDBusMessage));

QString sessionHandleOf(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>()) return value.value<QDBusObjectPath>().path();
    return value.toString();  // the frontend answers with a string
}

bool meansNoPortal(const QDBusError& error) {
    return error.type() == QDBusError::ServiceUnknown ||
           error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcutEntry& entry) {
    out.beginStructure();
    out << entry.id << entry.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcutEntry& entry) {
    in.beginStructure();
    in >> entry.id >> entry.properties;
    in.endStructure();
    return in;
}

void registerPortalShortcutTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalShortcutEntry>();
        qDBusRegisterMetaType<QList<PortalShortcutEntry>>();
        return true;
    }();
    (void)registered;
}

std::unique_ptr<PortalHotkeyBackend> PortalHotkeyBackend::open(Scheduler& scheduler, std::string* whyNot,
                                                               const QString& busAddress) {
    // A connection of its own: the request paths carry its unique name, and the portal closes
    // its session when it goes.
    static std::atomic<int> connections{0};
    const QString name = QStringLiteral("corvane-shortcuts-%1").arg(++connections);
    QDBusConnection bus = busAddress.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)
                                               : QDBusConnection::connectToBus(busAddress, name);
    auto refuse = [&](std::string reason) -> std::unique_ptr<PortalHotkeyBackend> {
        QDBusConnection::disconnectFromBus(name);
        if (whyNot) *whyNot = std::move(reason);
        return nullptr;
    };
    if (!bus.isConnected()) return refuse("no session bus");
    QDBusMessage get = QDBusMessage::createMethodCall(portal::kService, portal::kPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kShortcutsInterface << QStringLiteral("version");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kProbeTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return refuse("the desktop has no shortcut portal");
    }
    return std::unique_ptr<PortalHotkeyBackend>(new PortalHotkeyBackend(bus, scheduler));
}

PortalHotkeyBackend::PortalHotkeyBackend(QDBusConnection bus, Scheduler& scheduler)
    : bus_(std::move(bus)),
      portalOwnerWatcher_(std::make_unique<QDBusServiceWatcher>(portal::kService, bus_,
                                                                QDBusServiceWatcher::WatchForOwnerChange)),
      rebinder_(scheduler, [this](std::function<void(ShortcutRebinder::Outcome)> done) { rebind(std::move(done)); }) {
    registerPortalShortcutTypes();
    bus_.connect(portal::kService, portal::kPath, kShortcutsInterface, QStringLiteral("Activated"), this,
                 SLOT(onActivated(QDBusMessage)));
    connect(portalOwnerWatcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged, this,
            &PortalHotkeyBackend::onPortalOwnerChanged);
}

PortalHotkeyBackend::~PortalHotkeyBackend() {
    rebinder_.stop();
    closeSession();
    portalOwnerWatcher_.reset();  // it shares the connection, which goes next
    const QString name = bus_.name();
    bus_ = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(name);
}

void PortalHotkeyBackend::bind(const std::vector<HotkeyBinding>& bindings, BindCompletion done) {
    rebinder_.stop();  // the newest set wins over a re-bind of an older one
    rebindDone_ = nullptr;
    ++generation_;  // an answer to an earlier bind() no longer applies
    bindings_ = bindings;
    done_ = std::move(done);
    startBinding();
}

void PortalHotkeyBackend::rebind(std::function<void(ShortcutRebinder::Outcome)> done) {
    ++generation_;  // an answer sent to the dropped session no longer applies
    rebindDone_ = std::move(done);
    startBinding();
}

void PortalHotkeyBackend::startBinding() {
    if (!session_.isEmpty()) {
        sendBind();
    } else if (!creatingSession_) {
        createSession();
    }  // else: the session under way binds the newest set when it is there
}

void PortalHotkeyBackend::unbindAll() {
    rebinder_.stop();
    rebindDone_ = nullptr;
    ++generation_;
    bindings_.clear();
    done_ = nullptr;
    closeSession();
}

void PortalHotkeyBackend::setSuspended(bool suspended) {
    suspended_ = suspended;
    rebinder_.setSuspended(suspended);
}

void PortalHotkeyBackend::closeSession() {
    if (session_.isEmpty()) return;
    const QString session = session_;
    forgetSession();  // first: our own close is no loss to make good
    bus_.send(QDBusMessage::createMethodCall(portal::kService, session, portal::kSessionInterface,
                                             QStringLiteral("Close")));
}

void PortalHotkeyBackend::forgetSession() {
    if (session_.isEmpty()) return;
    bus_.disconnect(portal::kService, session_, portal::kSessionInterface, QStringLiteral("Closed"), this,
                    SLOT(onSessionClosed(QDBusMessage)));
    session_.clear();
}

void PortalHotkeyBackend::forgetPortalState() {
    forgetSession();
    for (const auto& [path, pending] : requests_) {
        bus_.disconnect(portal::kService, path, portal::kRequestInterface, QStringLiteral("Response"), this,
                        kResponseSlot);
    }
    requests_.clear();
    creatingSession_ = false;
}

void PortalHotkeyBackend::createSession() {
    creatingSession_ = true;
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("corvane_shortcuts%1").arg(++tokens_));
    request(RequestKind::createSession, QStringLiteral("CreateSession"), {}, options);
}

void PortalHotkeyBackend::sendBind() {
    results_.assign(bindings_.size(), HotkeyBindResult{});
    sent_.clear();
    QList<PortalShortcutEntry> shortcuts;
    for (size_t i = 0; i < bindings_.size(); ++i) {
        const HotkeyBinding& binding = bindings_[i];
        bool duplicate = false;
        for (size_t earlier : sent_) duplicate = duplicate || bindings_[earlier].combination == binding.combination;
        const std::optional<std::string> trigger = portalTriggerFor(binding.combination);
        if (duplicate) {
            results_[i] = {HotkeyBindStatus::duplicateInSet, -1, {}};
        } else if (!trigger) {
            results_[i] = {HotkeyBindStatus::keyNotOnKeyboard, -1, {}};
        } else {
            QVariantMap properties;
            properties.insert(QStringLiteral("description"), QString::fromStdString(binding.description));
            properties.insert(QStringLiteral("preferred_trigger"), QString::fromStdString(*trigger));
            shortcuts.append({QString::fromStdString(binding.id), properties});
            sent_.push_back(i);
        }
    }
    request(RequestKind::bindShortcuts, QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString()}, {});
}

void PortalHotkeyBackend::request(RequestKind kind, const QString& method, QVariantList arguments,
                                  QVariantMap options) {
    // The frontends that have this interface build the Request path from handle_token, so the
    // answer is subscribed to before the call and cannot be missed.
    const QString token = QStringLiteral("corvane_shortcuts%1").arg(++tokens_);
    options.insert(QStringLiteral("handle_token"), token);
    const QString path = portal::requestPath(bus_, token);
    bus_.connect(portal::kService, path, portal::kRequestInterface, QStringLiteral("Response"), this, kResponseSlot);
    requests_[path] = PendingRequest{kind, generation_};

    QDBusMessage call = QDBusMessage::createMethodCall(portal::kService, portal::kPath, kShortcutsInterface, method);
    arguments.append(options);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, path, method](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (!w->isError()) return;  // the Response signal follows
        logLine("The desktop's shortcut portal refused " + method.toStdString() + ": " +
                w->error().message().toStdString());
        answer(path, meansNoPortal(w->error()) ? kNoPortalCode : kPortalFailed, {});
    });
}

void PortalHotkeyBackend::onResponse(uint code, const QVariantMap& results, const QDBusMessage& message) {
    answer(message.path(), int(code), results);
}

void PortalHotkeyBackend::answer(const QString& requestPath, int code, const QVariantMap& results) {
    const auto found = requests_.find(requestPath);
    if (found == requests_.end()) return;
    const PendingRequest pending = found->second;
    requests_.erase(found);
    bus_.disconnect(portal::kService, requestPath, portal::kRequestInterface, QStringLiteral("Response"), this, kResponseSlot);

    if (pending.kind == RequestKind::createSession) {
        creatingSession_ = false;
        const QString session = sessionHandleOf(results.value(QStringLiteral("session_handle")));
        if (code != 0 || session.isEmpty()) {
            refuseAll(code != 0 ? code : kPortalFailed);
            return;
        }
        session_ = session;
        bus_.connect(portal::kService, session_, portal::kSessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QDBusMessage)));
        if (done_ || rebindDone_) sendBind();  // the newest set, whichever call asked for the session
        return;
    }
    if (pending.generation == generation_) finishBind(code, results);
}

void PortalHotkeyBackend::finishBind(int code, const QVariantMap& results) {
    if (code != 0) {
        refuseAll(code);
        return;
    }
    QList<PortalShortcutEntry> assigned;
    const QVariant listed = results.value(QStringLiteral("shortcuts"));
    if (listed.canConvert<QDBusArgument>()) listed.value<QDBusArgument>() >> assigned;
    for (size_t index : sent_) {
        const QString id = QString::fromStdString(bindings_[index].id);
        HotkeyBindResult& result = results_[index];
        result = {HotkeyBindStatus::unavailable, kNotAssignedCode, {}};
        for (const PortalShortcutEntry& entry : assigned) {
            if (entry.id != id) continue;
            const QString trigger = entry.properties.value(QStringLiteral("trigger_description")).toString();
            // Desktops that let the user pick the key later leave the trigger empty.
            result = {HotkeyBindStatus::bound, 0, trigger.isEmpty() ? std::string("no key yet") : trigger.toStdString()};
        }
    }
    if (auto rebound = std::exchange(rebindDone_, nullptr)) rebound(ShortcutRebinder::Outcome::bound);
    if (BindCompletion done = std::exchange(done_, nullptr)) done(results_);
}

void PortalHotkeyBackend::refuseAll(int code) {
    if (auto rebound = std::exchange(rebindDone_, nullptr)) {
        rebound(code == kNoPortalCode      ? ShortcutRebinder::Outcome::noService
                : code == kPortalCancelled ? ShortcutRebinder::Outcome::declined
                                           : ShortcutRebinder::Outcome::failed);
    } else if (code == kNoPortalCode && !bindings_.empty()) {
        rebinder_.bindingsLost();  // a set sent while no portal was there is bound when one is back
    }
    BindCompletion done = std::exchange(done_, nullptr);
    if (!done) return;
    done(std::vector<HotkeyBindResult>(bindings_.size(), HotkeyBindResult{HotkeyBindStatus::unavailable, code, {}}));
}

void PortalHotkeyBackend::onActivated(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || session_.isEmpty() || suspended_ || !onActivated_) return;
    if (sessionHandleOf(arguments.at(0)) != session_) return;
    // A copy: the handler may re-bind, which may replace it.
    const ActivationHandler handler = onActivated_;
    handler(arguments.at(1).toString().toStdString());
}

void PortalHotkeyBackend::onSessionClosed(const QDBusMessage& message) {
    if (message.path() != session_) return;
    logLine("The desktop closed the global shortcuts session.");
    // A BindShortcuts still out on it answers for itself; a re-bind started by then outdates it.
    forgetSession();
    if (!bindings_.empty()) rebinder_.bindingsLost();
}

void PortalHotkeyBackend::onPortalOwnerChanged(const QString&, const QString& oldOwner, const QString& newOwner) {
    // Sessions and requests belong to the process that owned the name; none outlives it.
    if (!oldOwner.isEmpty() && !bindings_.empty()) {
        logLine("The desktop's shortcut portal left the session bus.");
        forgetPortalState();
        refuseAll(kNoPortalCode);  // a bind under way gets no answer from it any more
        rebinder_.bindingsLost();
    }
    if (!newOwner.isEmpty()) rebinder_.serviceAppeared();
}

}  // namespace corvane
