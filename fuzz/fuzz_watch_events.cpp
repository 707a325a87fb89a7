// A buffer read from the folder watcher's inotify descriptor, from outside:
// split into its records, none of which may lie past the buffer's end.
#include <sys/inotify.h>

#include "fuzz/FuzzSupport.h"
#include "platform/PlatFolderWatch.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<plat::WatchEvent> events = plat::SplitWatchEvents(data, size);
    fuzz::Check(events.size() <= size / sizeof(struct inotify_event), "every record has a whole header");
    // A buffer of records with empty names splits into exactly that many.
    if (size >= sizeof(struct inotify_event) && events.empty()) {
        struct inotify_event header;
        __builtin_memcpy(&header, data, sizeof(header));
        fuzz::Check(header.len > size - sizeof(header), "only a name past the end stops the first record");
    }
    return 0;
}
