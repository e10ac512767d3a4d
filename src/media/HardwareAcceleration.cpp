#include "media/HardwareAcceleration.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string_view>

#include "core/log/Log.h"
#include "media/MediaLogging.h"
#include "media/encoder/EncoderCandidates.h"
#include "media/encoder/LiveCodec.h"

namespace corvane {
namespace {

std::string familyName(std::string_view encoder) {
    if (encoder.ends_with("_vaapi")) return "VA-API";
    if (encoder.ends_with("_nvenc")) return "NVIDIA NVENC";
    if (encoder.ends_with("_qsv")) return "Intel Quick Sync";
    return "hardware";
}

bool opens(const std::string& encoder, VideoCodec codec) {
    LiveCodecConfig config;
    config.encoderName = encoder;
    config.codec = codec;
    config.width = 1280;
    config.height = 720;
    config.fps = 30;
    config.bitrateKbps = 8000;
    int status = 0;
    return LiveCodec::open(config, status) != nullptr;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

HardwareEncoderSurvey probe() {
    // Encoders without their device (no GPU, no libcuda, no VA display) print errors while
    // failing; here that failure is the expected answer.
    const ScopedQuietMediaLogs quiet;
    const EncoderCandidates candidates;
    HardwareEncoderSurvey survey;
    auto firstThatOpens = [&](VideoCodec codec) -> std::optional<std::string> {
        for (const std::string& name : candidates.hardware(codec)) {
            if (opens(name, codec)) return name;
            survey.failed.push_back(name);
        }
        return std::nullopt;
    };
    survey.h264 = firstThatOpens(VideoCodec::H264);
    survey.hevc = firstThatOpens(VideoCodec::HEVC);

    if (!survey.h264 && !survey.hevc) {
        logLine("Hardware video encoders: none opens here (tried " + joined(survey.failed) +
                "); using the software encoders");
    } else {
        std::vector<std::string> found;
        if (survey.h264) found.push_back("H.264 " + *survey.h264);
        if (survey.hevc) found.push_back("HEVC " + *survey.hevc);
        logLine("Hardware video encoders: " + joined(found));
    }
    return survey;
}

std::mutex surveyMutex;
std::unique_ptr<HardwareEncoderSurvey> survey;  // guarded by surveyMutex; never replaced in use

}  // namespace

bool HardwareEncoderSurvey::didNotOpen(const std::string& encoder) const {
    return std::find(failed.begin(), failed.end(), encoder) != failed.end();
}

const HardwareEncoderSurvey& hardwareEncoderSurvey() {
    std::lock_guard lock(surveyMutex);
    if (!survey) survey = std::make_unique<HardwareEncoderSurvey>(probe());
    return *survey;
}

std::string describeHardwareAcceleration(VideoCodec codec) {
    const bool hevc = codec == VideoCodec::HEVC;
    const HardwareEncoderSurvey& found = hardwareEncoderSurvey();
    // The encoder's order: the chosen codec's dedicated encoders, then (H.264 only) the HEVC
    // ones, then the standard software encoder of the chosen codec.
    const std::optional<std::string>& hardware = hevc ? found.hevc : (found.h264 ? found.h264 : found.hevc);
    if (hardware) return familyName(*hardware) + " (" + *hardware + ")";
    return "none (" + EncoderCandidates().software(codec) + " software)";
}

void resetHardwareEncoderSurveyForTesting() {
    std::lock_guard lock(surveyMutex);
    survey.reset();
}

}  // namespace corvane
