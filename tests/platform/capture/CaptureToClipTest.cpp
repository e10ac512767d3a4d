// From the screen and the speakers to a clip on disk: real X11 capture, real system audio, the real
// encoder, buffer and exporter; the clip must decode cleanly with both tracks and the tone in it.
#include <gtest/gtest.h>

#include "platform/x11/X11ScreenCapture.h"
#include "support/CaptureToClipRig.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

TEST(CaptureToClip, RealCaptureExportsAPlayableClipWithBothTracks) {
    X11ScreenCaptureBackend screen;
    test::TempDir folder;
    test::DecodedClip clip;
    // Audio may take two seconds to flow.
    ASSERT_NO_FATAL_FAILURE(test::captureToClip(screen, {3s, 5s}, clip, folder));
    EXPECT_GE(clip.frameIndices.size(), 45u);  // about two seconds at 30 fps
}

}  // namespace
}  // namespace corvane
