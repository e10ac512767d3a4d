// From a Wayland screen and PipeWire's audio server to a clip on disk: the portal capture, the
// PulseAudio client on pipewire-pulse, the real encoder, buffer and exporter. The screen is kept
// still the whole time (an empty workspace), so PipeWire sends next to no pictures: the clip must
// still be video of the full length, with the tone in its audio.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/wayland/PortalScreenCapture.h"
#include "support/CaptureToClipRig.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

TEST(WaylandCaptureToClip, AStillScreenGivesAFullLengthClipWithSound) {
    ASSERT_EQ(std::system("swaymsg -q 'workspace 2'"), 0) << "run inside scripts/with-wayland-session.sh";
    test::TempDir state, folder;
    PortalScreenCaptureBackend::Options options;
    options.stateFile = (state / "portal.toml").string();
    PortalScreenCaptureBackend screen(options);
    test::DecodedClip clip;
    // PipeWire's PulseAudio server may take seconds to deliver a new monitor stream's first
    // block on a busy machine; the bound only catches audio that never comes.
    test::captureToClip(screen, {10s, 15s}, clip, folder);
    std::system("swaymsg -q 'workspace 1'");
    EXPECT_GE(clip.frameIndices.size(), 50u) << "two seconds at 30 fps of a still screen";
}

}  // namespace
}  // namespace corvane
