#include "app/Banner.h"

#include "core/config/ConfigReader.h"

namespace corvane {

std::string startupBanner(const AppConfig& config, std::string_view hardwareAcceleration) {
    const std::string rule(60, '=');
    std::string text;
    text += rule + "\n";
    text += "Corvane (Linux Instant Replay)\n";
    text += rule + "\n";
    text += "- Hardware Acc: " + std::string(hardwareAcceleration) + "\n";
    text += "- Frame Rate  : " + std::to_string(config.fps) + " FPS\n";
    text += "- Bitrate     : " + std::to_string(config.bitrateKbps) + " kbps\n";
    text += "- Max Buffer  : " + formatFixed(config.maxBufferSeconds, 0) + "s in RAM\n";
    text += "- Output Dir  : " + config.outputDir + "\n";
    text += rule + "\n";
    text += "Ready. Use your global shortcuts to save clips.\n";
    return text;
}

}  // namespace corvane
