#include "app/SaveCommand.h"

#include <QCoreApplication>

#include "app/CommandLine.h"
#include "core/log/Log.h"
#include "platform/instance/SaveClipRequest.h"

namespace corvane {

int runSaveCommand(int argc, char** argv) {
    const std::optional<double> seconds = saveSeconds(argc, argv);
    if (!seconds) {
        writeStderr(kSaveUsageText);
        return 1;
    }
    QCoreApplication app(argc, argv);  // QtDBus wants one; no event loop runs
    const SaveClipOutcome outcome = requestClipFromRunningInstance(*seconds);
    if (!outcome.ok) {
        writeStderr(outcome.pathOrReason + "\n");
        return 1;
    }
    writeStdout(outcome.pathOrReason + "\n");
    // Standard output stays the one path; a shorter clip or the other files of a split save are
    // told beside it.
    if (!outcome.note.empty()) writeStderr(outcome.note + "\n");
    return 0;
}

}  // namespace corvane
