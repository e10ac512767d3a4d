#include "core/capture/NullScreenCapture.h"

namespace corvane {

NullScreenCapture::NullScreenCapture(std::string reason)
    : reason_(reason), error_{"Corvane", 1, "Screen capture is not available (" + reason + ")."} {}

}  // namespace corvane
