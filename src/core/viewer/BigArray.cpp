#include "core/viewer/BigArray.h"

#ifdef __linux__
#include <cstdlib>
#include <sys/mman.h>
#endif

namespace Viewer {

#ifdef __linux__

namespace {
constexpr std::size_t HugePage = std::size_t(2) << 20;
}

void *AllocateBig(std::size_t bytes)
{
    if (bytes < HugePage)
        return ::operator new(bytes);
    const std::size_t rounded = (bytes + HugePage - 1) / HugePage * HugePage;
    void *p = std::aligned_alloc(HugePage, rounded);
    if (!p)
        throw std::bad_alloc();
    // Only advice: where huge pages are off, the block works as any other.
    ::madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

void FreeBig(void *p, std::size_t bytes) noexcept
{
    if (bytes < HugePage)
        ::operator delete(p);
    else
        std::free(p);
}

#else

void *AllocateBig(std::size_t bytes)
{
    return ::operator new(bytes);
}

void FreeBig(void *p, std::size_t) noexcept
{
    ::operator delete(p);
}

#endif

}  // namespace Viewer
