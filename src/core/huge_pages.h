// Advice that a large buffer be backed by huge pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

// A large buffer that is touched once from end to end (a file read into
// memory, an output built in memory): huge pages save most of its page
// faults. Only advice for buffers of 8 MiB and more; a failure is harmless.
void advise_huge_pages(void* p, uint64_t n);

constexpr uint64_t HUGE_PAGE = uint64_t{1} << 21;

// A block of n bytes (a multiple of HUGE_PAGE) aligned to HUGE_PAGE, to be
// released with free, and advised wholly: for blocks that are filled from
// their start without gaps. Null without memory.
void* alloc_huge_pages(uint64_t n) noexcept;

// An allocator for large tables that are written wholly (rows appended one
// after another): blocks of HUGE_PAGE / 2 and more are whole huge pages
// (alloc_huge_pages), smaller ones come from malloc.
template <class T>
struct huge_page_allocator {
    using value_type = T;
    huge_page_allocator() = default;
    template <class U>
    huge_page_allocator(const huge_page_allocator<U>&) noexcept {}

    T* allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        const uint64_t bytes = uint64_t{n} * sizeof(T);
        void* p = bytes >= HUGE_PAGE / 2 ? alloc_huge_pages((bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE)
                                         : std::malloc(bytes ? static_cast<size_t>(bytes) : 1);
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) noexcept { std::free(p); }
    template <class U>
    bool operator==(const huge_page_allocator<U>&) const noexcept {
        return true;
    }
};
