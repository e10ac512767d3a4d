#include <malloc.h>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "core/log/Log.h"

namespace {

// glibc raises its mmap threshold to the size of every large block freed, up to 32 MiB. A save
// allocates and frees a few such blocks (the copied span of the buffer, encoder and muxer
// buffers); after the first one they come from the heap, where freed space between live blocks
// is never handed back, and the process stays about 10 MiB larger for good. A fixed threshold
// keeps every block above 128 KiB in its own mapping, returned when freed. Blocks that large
// are rare otherwise (encoder frames are pooled for the life of the capture), so the extra
// mappings cost nothing measurable. bench/memory_bench.sh shows the difference.
void keepLargeTransientBlocksReturnable() { mallopt(M_MMAP_THRESHOLD, 128 * 1024); }

}  // namespace

int main(int argc, char** argv) {
    const auto action = corvane::commandLineAction(argc, argv);
    if (action != corvane::CommandLineAction::Start) {
        corvane::writeStdout(corvane::commandLineOutput(action));
        return 0;
    }
    keepLargeTransientBlocksReturnable();
    corvane::Application application(argc, argv);
    return application.run();
}
