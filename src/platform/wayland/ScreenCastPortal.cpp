#include "platform/wayland/ScreenCastPortal.h"

#include "platform/wayland/PortalNames.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QObject>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <QVariantMap>
#include <fcntl.h>
#include <unistd.h>

#include <future>

namespace corvane {
namespace {

const QString kScreenCastInterface = QStringLiteral("org.freedesktop.portal.ScreenCast");

constexpr int kCallTimeoutMs = 10'000;
constexpr int kAnswerTimeoutMs = 10'000;
// Start shows the system dialog where no restore token applies: the user needs time.
constexpr int kDialogTimeoutMs = 120'000;

constexpr uint32_t kSourceMonitor = 1;
constexpr uint32_t kSourceWindow = 2;
constexpr uint32_t kCursorHidden = 1;
constexpr uint32_t kCursorEmbedded = 2;
constexpr uint32_t kPersistUntilRevoked = 2;

CaptureError portalError(ScreenCastFailure failure, std::string message) {
    return CaptureError{"Portal", int32_t(failure), std::move(message)};
}

bool isUnreachable(const QDBusMessage& reply) {
    switch (QDBusError(reply).type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
    case QDBusError::Disconnected:
    case QDBusError::NoServer:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
        return true;
    default:
        return reply.type() != QDBusMessage::ErrorMessage;
    }
}

QString handleOf(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>()) return value.value<QDBusObjectPath>().path();
    return value.toString();  // older frontends answer with a plain string
}

}  // namespace

OwnedFd& OwnedFd::operator=(OwnedFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

OwnedFd::~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
}

// Lives on the portal thread; every member is used there only.
class ScreenCastPortalWorker : public QObject {
    Q_OBJECT

public:
    explicit ScreenCastPortalWorker(std::atomic<bool>& abandoned) : abandoned_(abandoned) {}
    ~ScreenCastPortalWorker() override {
        if (!bus_) return;
        QString name = bus_->name();
        bus_.reset();
        QDBusConnection::disconnectFromBus(name);
    }

    std::function<void(const std::string&)> onSessionClosed;

    bool isReachable() { return version() >= 1; }
    CaptureResult<ScreenCastGrant> start(const ScreenCastOptions& options);
    void closeSession(const QString& handle);
    // Ends the wait for an answer, if one is under way.
    void interrupt() {
        if (waiting_) waiting_->quit();
    }

public slots:
    void onResponse(uint code, const QVariantMap& results, const QDBusMessage& message);
    void onClosed(const QVariantMap& details, const QDBusMessage& message);

private:
    struct Answer {
        uint code = 2;
        QVariantMap results;
    };

    QDBusConnection& bus();
    QVariant property(const QString& name);
    uint32_t version() { return property(QStringLiteral("version")).toUInt(); }
    QString newToken(const char* prefix) { return QString::fromLatin1(prefix) + QString::number(++tokens_); }
    // Calls a ScreenCast method that answers through a Request object and waits for the answer.
    CaptureResult<Answer> request(const QString& method, QVariantList arguments, QVariantMap options,
                                  int timeoutMs);
    void watchSession(const QString& handle, bool watch);

    std::atomic<bool>& abandoned_;
    std::optional<QDBusConnection> bus_;
    QString awaitedPath_;
    std::optional<Answer> answer_;
    QEventLoop* waiting_ = nullptr;
    QSet<QString> watchedSessions_;
    uint64_t tokens_ = 0;
};

QDBusConnection& ScreenCastPortalWorker::bus() {
    if (!bus_) {
        // A connection of its own: its unique name is in every request path, and the portal
        // closes this process's sessions when it goes away.
        static std::atomic<int> connections{0};
        QString name = QStringLiteral("corvane-portal-%1").arg(++connections);
        bus_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    }
    return *bus_;
}

QVariant ScreenCastPortalWorker::property(const QString& name) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        portal::kService, portal::kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << kScreenCastInterface << name;
    QDBusMessage reply = bus().call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

CaptureResult<ScreenCastPortalWorker::Answer> ScreenCastPortalWorker::request(
    const QString& method, QVariantList arguments, QVariantMap options, int timeoutMs) {
    if (abandoned_.load()) return portalError(ScreenCastFailure::unreachable, "Corvane is quitting");
    QString token = newToken("corvane_request");
    options.insert(QStringLiteral("handle_token"), token);
    QString path = portal::requestPath(bus(), token);  // the reply may name another
    const char* slot = SLOT(onResponse(uint, QVariantMap, QDBusMessage));
    bus().connect(portal::kService, path, portal::kRequestInterface, QStringLiteral("Response"), this, slot);
    awaitedPath_ = path;
    answer_.reset();

    QDBusMessage call = QDBusMessage::createMethodCall(portal::kService, portal::kPath, kScreenCastInterface, method);
    arguments.append(options);
    call.setArguments(arguments);
    QDBusMessage reply = bus().call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        bus().disconnect(portal::kService, path, portal::kRequestInterface, QStringLiteral("Response"), this, slot);
        // An argument the portal rejects (a restore token it cannot read) is a refusal; no
        // portal or no answer is something to try again later.
        return portalError(isUnreachable(reply) ? ScreenCastFailure::unreachable : ScreenCastFailure::failed,
                           "The screen-sharing portal did not accept " + method.toStdString() + ": " +
                               reply.errorMessage().toStdString());
    }
    QString handle = handleOf(reply.arguments().value(0));
    if (!handle.isEmpty() && handle != path) {
        // Frontends before 0.9 choose the path themselves.
        bus().disconnect(portal::kService, path, portal::kRequestInterface, QStringLiteral("Response"), this, slot);
        path = handle;
        awaitedPath_ = path;
        bus().connect(portal::kService, path, portal::kRequestInterface, QStringLiteral("Response"), this, slot);
    }

    if (!answer_ && !abandoned_.load()) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(timeoutMs);
        waiting_ = &loop;
        loop.exec();
        waiting_ = nullptr;
    }
    bus().disconnect(portal::kService, path, portal::kRequestInterface, QStringLiteral("Response"), this, slot);
    awaitedPath_.clear();
    if (!answer_) {
        // Takes the dialog away, if one is open.
        bus().send(QDBusMessage::createMethodCall(portal::kService, path, portal::kRequestInterface, QStringLiteral("Close")));
        return portalError(ScreenCastFailure::unreachable,
                           abandoned_.load() ? "Corvane is quitting"
                                             : "The screen-sharing portal did not answer " +
                                                   method.toStdString() + " in time");
    }
    Answer answer = std::move(*answer_);
    answer_.reset();
    if (answer.code == 1) {
        return portalError(ScreenCastFailure::cancelled, "Screen sharing was declined in the system dialog");
    }
    if (answer.code != 0) {
        return portalError(ScreenCastFailure::failed,
                           "The screen-sharing portal could not " + method.toStdString() +
                               " (answer " + std::to_string(answer.code) + ")");
    }
    return answer;
}

void ScreenCastPortalWorker::onResponse(uint code, const QVariantMap& results, const QDBusMessage& message) {
    if (message.path() != awaitedPath_) return;
    answer_ = Answer{code, results};
    if (waiting_) waiting_->quit();
}

void ScreenCastPortalWorker::watchSession(const QString& handle, bool watch) {
    const char* slot = SLOT(onClosed(QVariantMap, QDBusMessage));
    if (watch) {
        bus().connect(portal::kService, handle, portal::kSessionInterface, QStringLiteral("Closed"), this, slot);
        watchedSessions_.insert(handle);
    } else if (watchedSessions_.remove(handle)) {
        bus().disconnect(portal::kService, handle, portal::kSessionInterface, QStringLiteral("Closed"), this, slot);
    }
}

void ScreenCastPortalWorker::onClosed(const QVariantMap& /*details*/, const QDBusMessage& message) {
    QString handle = message.path();
    if (!watchedSessions_.contains(handle)) return;
    watchSession(handle, false);
    if (onSessionClosed) onSessionClosed(handle.toStdString());
}

void ScreenCastPortalWorker::closeSession(const QString& handle) {
    watchSession(handle, false);
    bus().send(QDBusMessage::createMethodCall(portal::kService, handle, portal::kSessionInterface, QStringLiteral("Close")));
}

CaptureResult<ScreenCastGrant> ScreenCastPortalWorker::start(const ScreenCastOptions& options) {
    if (!bus().isConnected()) {
        return portalError(ScreenCastFailure::unreachable, "No session bus to reach the screen-sharing portal");
    }
    uint32_t portalVersion = version();
    if (portalVersion == 0) {
        return portalError(ScreenCastFailure::unreachable,
                           "The desktop offers no screen-sharing portal (org.freedesktop.portal.ScreenCast)");
    }
    uint32_t sourceTypes = property(QStringLiteral("AvailableSourceTypes")).toUInt();
    uint32_t cursorModes = property(QStringLiteral("AvailableCursorModes")).toUInt();

    QVariantMap createOptions;
    createOptions.insert(QStringLiteral("session_handle_token"), newToken("corvane_session"));
    auto created = request(QStringLiteral("CreateSession"), {}, createOptions, kAnswerTimeoutMs);
    if (!created) return created.error();
    QString session = handleOf(created.value().results.value(QStringLiteral("session_handle")));
    if (session.isEmpty()) {
        return portalError(ScreenCastFailure::failed, "The screen-sharing portal gave no session");
    }
    watchSession(session, true);
    auto fail = [&](CaptureError error) -> CaptureResult<ScreenCastGrant> {
        closeSession(session);
        return error;
    };

    ScreenCastGrant grant;
    grant.sessionHandle = session.toStdString();
    QVariantMap select;
    uint32_t types = kSourceMonitor | (sourceTypes & kSourceWindow);
    select.insert(QStringLiteral("types"), QVariant::fromValue<uint>(types));
    select.insert(QStringLiteral("multiple"), false);
    if (options.showCursor && (cursorModes & kCursorEmbedded)) {
        select.insert(QStringLiteral("cursor_mode"), QVariant::fromValue<uint>(kCursorEmbedded));
        grant.cursorEmbedded = true;
    } else if (!options.showCursor && (cursorModes & kCursorHidden)) {
        select.insert(QStringLiteral("cursor_mode"), QVariant::fromValue<uint>(kCursorHidden));
    }
    if (portalVersion >= 4) {
        select.insert(QStringLiteral("persist_mode"), QVariant::fromValue<uint>(kPersistUntilRevoked));
        if (options.restoreToken) {
            select.insert(QStringLiteral("restore_token"), QString::fromStdString(*options.restoreToken));
        }
    }
    QVariantList sessionArgument{QVariant::fromValue(QDBusObjectPath(session))};
    auto selected = request(QStringLiteral("SelectSources"), sessionArgument, select, kAnswerTimeoutMs);
    if (!selected) return fail(selected.error());

    auto started = request(QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(session)), QString()},
                           {}, kDialogTimeoutMs);
    if (!started) return fail(started.error());
    const QVariantMap& results = started.value().results;
    bool haveStream = false;
    const QDBusArgument streams = results.value(QStringLiteral("streams")).value<QDBusArgument>();
    streams.beginArray();
    while (!streams.atEnd()) {
        uint node = 0;
        QVariantMap properties;
        streams.beginStructure();
        streams >> node >> properties;
        streams.endStructure();
        if (haveStream) continue;  // one stream was asked for
        haveStream = true;
        grant.nodeId = node;
        grant.sourceType = properties.value(QStringLiteral("source_type")).toUInt();
        if (properties.contains(QStringLiteral("size"))) {
            const QDBusArgument size = properties.value(QStringLiteral("size")).value<QDBusArgument>();
            int width = 0, height = 0;
            size.beginStructure();
            size >> width >> height;
            size.endStructure();
            grant.width = width;
            grant.height = height;
        }
    }
    streams.endArray();
    if (!haveStream) return fail(portalError(ScreenCastFailure::failed, "The screen-sharing portal started no stream"));
    QString token = results.value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty()) grant.restoreToken = token.toStdString();

    QDBusMessage open = QDBusMessage::createMethodCall(portal::kService, portal::kPath, kScreenCastInterface,
                                                       QStringLiteral("OpenPipeWireRemote"));
    open << QVariant::fromValue(QDBusObjectPath(session)) << QVariantMap();
    QDBusMessage reply = bus().call(open, QDBus::Block, kCallTimeoutMs);
    QDBusUnixFileDescriptor fd;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        fd = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
    }
    if (!fd.isValid()) {
        return fail(portalError(ScreenCastFailure::failed, "The screen-sharing portal gave no PipeWire connection: " +
                                                               reply.errorMessage().toStdString()));
    }
    // QDBusUnixFileDescriptor closes its own copy.
    grant.pipeWireRemote = OwnedFd(::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 3));
    if (grant.pipeWireRemote.get() < 0) {
        return fail(portalError(ScreenCastFailure::failed, "Cannot keep the PipeWire connection"));
    }
    return grant;
}

// ---------------------------------------------------------------------------------------------

ScreenCastPortal::ScreenCastPortal() : thread_(std::make_unique<QThread>()) {
    thread_->setObjectName(QStringLiteral("corvane-portal"));
    worker_ = new ScreenCastPortalWorker(abandoned_);
    worker_->moveToThread(thread_.get());
    QObject::connect(thread_.get(), &QThread::finished, worker_, &QObject::deleteLater);
    thread_->start();
}

ScreenCastPortal::~ScreenCastPortal() {
    abandon();
    { std::lock_guard lock(jobMutex_); }  // the job under way, if any, has ended
    thread_->quit();
    thread_->wait();
}

template <typename Job>
auto ScreenCastPortal::runOnPortalThread(Job job) -> decltype(job()) {
    std::packaged_task<decltype(job())()> task(std::move(job));
    auto result = task.get_future();
    QMetaObject::invokeMethod(worker_, [&task] { task(); }, Qt::QueuedConnection);
    return result.get();
}

bool ScreenCastPortal::isReachable() {
    // Not queued behind a start that waits for the dialog: the portal thread answers this from
    // within that wait.
    if (abandoned_.load()) return false;
    return runOnPortalThread([this] { return worker_->isReachable(); });
}

CaptureResult<ScreenCastGrant> ScreenCastPortal::start(const ScreenCastOptions& options) {
    std::lock_guard lock(jobMutex_);
    if (abandoned_.load()) return portalError(ScreenCastFailure::unreachable, "Corvane is quitting");
    return runOnPortalThread([this, &options] { return worker_->start(options); });
}

void ScreenCastPortal::closeSession(const std::string& sessionHandle) {
    QString handle = QString::fromStdString(sessionHandle);
    QMetaObject::invokeMethod(worker_, [w = worker_, handle] { w->closeSession(handle); }, Qt::QueuedConnection);
}

void ScreenCastPortal::setOnSessionClosed(std::function<void(const std::string&)> callback) {
    std::lock_guard lock(jobMutex_);
    runOnPortalThread([this, &callback] { worker_->onSessionClosed = std::move(callback); });
}

void ScreenCastPortal::abandon() {
    abandoned_ = true;
    QMetaObject::invokeMethod(worker_, [w = worker_] { w->interrupt(); }, Qt::QueuedConnection);
}

}  // namespace corvane

#include "ScreenCastPortal.moc"
