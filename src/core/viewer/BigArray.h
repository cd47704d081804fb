#pragma once

#include <cstddef>
#include <new>
#include <vector>

// Memory for the viewer's large arrays: the file's text, the row index and
// the sort keys, each tens of megabytes for a month of logging. On Linux,
// blocks of 2 MB and more ask for transparent huge pages, because touching
// that much fresh memory in 4 KB pages costs more than reading and sorting it.
namespace Viewer {

void *AllocateBig(std::size_t bytes);
void FreeBig(void *p, std::size_t bytes) noexcept;

template<class T>
struct BigAllocator
{
    using value_type = T;
    BigAllocator() = default;
    template<class U>
    BigAllocator(const BigAllocator<U> &) noexcept
    { }
    T *allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_alloc();
        return static_cast<T *>(AllocateBig(n * sizeof(T)));
    }
    void deallocate(T *p, std::size_t n) noexcept { FreeBig(p, n * sizeof(T)); }
    friend bool operator==(const BigAllocator &, const BigAllocator &) { return true; }
};

template<class T>
using BigVector = std::vector<T, BigAllocator<T>>;

}  // namespace Viewer
