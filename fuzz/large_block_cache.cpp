// The demultiplexer's fuzz targets build parsers with buffers of several hundred KiB for every
// input. Under AddressSanitizer each such allocation maps fresh memory and each release poisons
// all of it, which costs several times the parsing of a typical input. Here an array allocation
// of kLargeBlock bytes or more is kept once released and handed out again for the same size:
// poisoned while kept, so that a use after release is still reported, and with the sanitizer's
// red zones around it as before. Its bytes are left as its last user left them, as an allocator
// may. Without AddressSanitizer nothing is kept.
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/allocator_interface.h>
#include <sanitizer/asan_interface.h>
#define TAVIX_FUZZ_ASAN 1
#endif
#endif

namespace {

#ifdef TAVIX_FUZZ_ASAN
constexpr size_t kLargeBlock = 65536;
constexpr int kKeptBlocks = 8;

struct Kept {
    void* block;
    size_t size;
};

std::mutex keptLock;
Kept kept[kKeptBlocks];  // guarded by keptLock; a null block is a free slot

void* TakeKept(size_t size) {
    std::lock_guard<std::mutex> lock(keptLock);
    for (Kept& k : kept) {
        if (!k.block || k.size != size) continue;
        void* block = k.block;
        k.block = nullptr;
        ASAN_UNPOISON_MEMORY_REGION(block, size);
        return block;
    }
    return nullptr;
}

bool Keep(void* block) {
    const size_t size = __sanitizer_get_allocated_size(block);
    if (size < kLargeBlock) return false;
    std::lock_guard<std::mutex> lock(keptLock);
    for (Kept& k : kept) {
        if (k.block) continue;
        ASAN_POISON_MEMORY_REGION(block, size);
        k = {block, size};
        return true;
    }
    return false;
}
#endif

void* Allocate(size_t size) {
#ifdef TAVIX_FUZZ_ASAN
    if (size >= kLargeBlock)
        if (void* block = TakeKept(size)) return block;
#endif
    if (void* block = std::malloc(size != 0 ? size : 1)) return block;
    throw std::bad_alloc();
}

void Release(void* block) {
    if (!block) return;
#ifdef TAVIX_FUZZ_ASAN
    if (Keep(block)) return;
#endif
    std::free(block);
}

}  // namespace

void* operator new[](size_t size) {
    return Allocate(size);
}

void operator delete[](void* block) noexcept {
    Release(block);
}

void operator delete[](void* block, size_t) noexcept {
    Release(block);
}

// The parsers grow their buffers with the nothrow form: it must come from the same place.
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
    Release(block);
}
