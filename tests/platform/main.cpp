// Platform tests talk to a real X server, PulseAudio and D-Bus; they run inside
// scripts/with-test-session.sh. A QCoreApplication exists for the QtDBus and event-loop pieces.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
