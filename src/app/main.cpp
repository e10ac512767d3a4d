#include <malloc.h>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/SaveCommand.h"
#include "core/log/Log.h"

namespace {

// Two glibc habits make a recorder that runs for days grow without holding more.
//
// It raises its mmap threshold to the size of every large block freed, up to 32 MiB. A save
// allocates and frees a few such blocks (the copied span of the buffer, encoder and muxer
// buffers); after the first one they come from the heap, where freed space between live blocks
// is never handed back, and the process stays about 10 MiB larger for good. A fixed threshold
// keeps every block above 128 KiB in its own mapping, returned when freed.
//
// It gives threads arenas of their own. Every capture restart makes a new encoder with new
// threads, which allocate the buffer's next packets in another arena, while the freed packets of
// the last one stay in theirs: with a picture change every 30 s the process grew from 200 to
// 450 MiB while its heap in use stayed at 105 MiB (heaptrack), and malloc_trim gave it all back.
// One arena reuses the space the buffer frees, whichever thread frees or allocates it. The
// allocations are few (about a hundred packets a second), so sharing its lock costs nothing
// measurable. Both must be set before the first thread starts.
void keepFreedMemoryReusable() {
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_ARENA_MAX, 1);
}

}  // namespace

int main(int argc, char** argv) {
    const auto action = corvane::commandLineAction(argc, argv);
    if (action == corvane::CommandLineAction::Save) return corvane::runSaveCommand(argc, argv);
    if (action != corvane::CommandLineAction::Start) {
        corvane::writeStdout(corvane::commandLineOutput(action));
        return 0;
    }
    keepFreedMemoryReusable();
    corvane::Application application(argc, argv);
    return application.run();
}
