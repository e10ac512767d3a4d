#pragma once

#include <QDBusConnection>
#include <QString>

#include "platform/instance/ControlHandlers.h"
#include "platform/instance/ControlService.h"

namespace corvane {

// A save can take a while for a long clip (the audio is encoded when it is written).
inline constexpr int kSaveClipReplyTimeoutMs = 120'000;

// Asks the Corvane running in this session for a clip of the last `seconds`: calls SaveClip on
// its control object on `bus` and waits for the answer, which comes once the file is complete.
// The outcome carries the clip's path, or the reason no clip was written (no bus, no Corvane
// running, the save failed). Blocking; any thread with a QCoreApplication in the process.
SaveClipOutcome requestClipFromRunningInstance(double seconds, QDBusConnection bus,
                                               const QString& serviceName = QString::fromLatin1(kControlServiceName),
                                               int timeoutMs = kSaveClipReplyTimeoutMs);

// The same on the session bus, as `corvane --save` uses it.
SaveClipOutcome requestClipFromRunningInstance(double seconds);

}  // namespace corvane
