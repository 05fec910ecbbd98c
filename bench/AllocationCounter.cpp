#include "AllocationCounter.h"

#include <atomic>
#include <unistd.h>

extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* block, std::size_t size);

namespace {

// 0 while nothing is counted.
std::atomic<pid_t> watched{0};
std::atomic<std::size_t> notedSize{0};
std::atomic<std::uint64_t> all{0};
std::atomic<std::uint64_t> ofNotedSize{0};

// Asking the system for the id at every allocation would cost a call each time.
thread_local pid_t ownId = 0;

void Note(std::size_t size) {
    const pid_t thread = watched.load(std::memory_order_relaxed);
    if (thread == 0)
        return;
    if (ownId == 0)
        ownId = gettid();
    if (ownId != thread)
        return;
    all.fetch_add(1, std::memory_order_relaxed);
    if (size == notedSize.load(std::memory_order_relaxed))
        ofNotedSize.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

extern "C" void* malloc(std::size_t size) {
    Note(size);
    return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) {
    Note(count * size);
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, std::size_t size) {
    Note(size);
    return __libc_realloc(block, size);
}

void StartCountingAllocations(pid_t thread, std::size_t size) {
    all = 0;
    ofNotedSize = 0;
    notedSize = size;
    watched = thread;
}

TAllocationCount StopCountingAllocations() {
    watched = 0;
    return {all.load(), ofNotedSize.load()};
}
