#include "QuenwickCore/PodArray.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace quenwick::detail {
namespace {

// Below this a buffer stays on the heap; above it gets a mapping of its own.
constexpr size_t kMapThreshold = 1 << 20;
constexpr size_t kPage = 4096;

size_t roundToPage(size_t bytes) {
    return (bytes + kPage - 1) & ~(kPage - 1);
}

void* mapFresh(size_t bytes) {
    void* p = mmap(nullptr, roundToPage(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                   -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return p;
}

}  // namespace

void* podAllocate(size_t bytes, bool& mapped) {
    if (bytes >= kMapThreshold) {
        mapped = true;
        return mapFresh(bytes);
    }
    mapped = false;
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void* podReallocate(void* data, size_t oldBytes, size_t newBytes, bool& mapped) {
    if (mapped) {
        void* p = mremap(data, roundToPage(oldBytes), roundToPage(newBytes), MREMAP_MAYMOVE);
        if (p == MAP_FAILED) throw std::bad_alloc();
        return p;
    }
    if (newBytes >= kMapThreshold) {
        void* p = mapFresh(newBytes);
        std::memcpy(p, data, oldBytes);
        std::free(data);
        mapped = true;
        return p;
    }
    void* p = std::realloc(data, newBytes == 0 ? 1 : newBytes);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void podFree(void* data, size_t bytes, bool mapped) {
    if (data == nullptr) return;
    if (mapped) {
        munmap(data, roundToPage(bytes));
    } else {
        std::free(data);
    }
}

}  // namespace quenwick::detail
