#pragma once

namespace corvane {

// `corvane --save SECONDS`: asks the Corvane running in this session for a clip of the last
// SECONDS and waits for it. Prints the clip's path on standard output and returns 0; prints the
// reason on standard error and returns 1 when the argument is not a length, no Corvane runs, or
// the save fails.
int runSaveCommand(int argc, char** argv);

}  // namespace corvane
