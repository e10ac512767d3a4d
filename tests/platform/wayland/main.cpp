// Wayland tests talk to the real desktop portal, its wlroots back end and PipeWire; they run
// inside scripts/with-wayland-session.sh (ctest does so). A QCoreApplication exists for QtDBus.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include "media/MediaLogging.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    corvane::quietMediaLibraryLogs();
    return RUN_ALL_TESTS();
}
