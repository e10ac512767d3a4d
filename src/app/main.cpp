#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/SaveCommand.h"
#include "core/log/Log.h"

int main(int argc, char** argv) {
    const auto action = corvane::commandLineAction(argc, argv);
    if (action == corvane::CommandLineAction::Save) return corvane::runSaveCommand(argc, argv);
    if (action != corvane::CommandLineAction::Start) {
        corvane::writeStdout(corvane::commandLineOutput(action));
        return 0;
    }
    corvane::Application application(argc, argv);
    return application.run();
}
