#pragma once

#include <functional>
#include <string>

#include "core/status/CorvaneStatus.h"

namespace corvane {

// What the engine fills in and calls on the main window's manager. Main thread only.
// The window may not exist yet; every call is valid before it is first shown.
class MainWindowHost {
public:
    virtual ~MainWindowHost() = default;
    virtual void setOutputDir(const std::string& outputDir) = 0;
    virtual void setConfigPath(const std::string& configPath) = 0;
    // Called after the settings tab has written the configuration file.
    virtual void setOnSettingsChanged(std::function<void()> callback) = 0;
    // Read once a second by the window's title timer.
    virtual void setRecordingStatusProvider(std::function<RecordingPair()> provider) = 0;
    virtual void setupMainMenuIfNeeded() = 0;
    virtual void updateWindowTitle() = 0;
};

}  // namespace corvane
