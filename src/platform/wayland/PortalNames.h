#pragma once
// Names and rules shared by every desktop-portal client of ours (screen casting, shortcuts).

#include <QDBusConnection>
#include <QString>

namespace corvane::portal {

inline const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
inline const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// The object path the portal gives the Request of a call made with `handleToken` on `bus`:
// known before the call, so its Response can be subscribed to first and never be missed.
inline QString requestPath(const QDBusConnection& bus, const QString& handleToken) {
    const QString sender = bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    return kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + handleToken;
}

}  // namespace corvane::portal
