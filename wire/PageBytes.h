// Bytes on whole memory pages: a decoded file chunk lives in one, so that a
// host can hand it to unbuffered (direct) file I/O, which wants its buffer
// on a block boundary, without copying it first.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace orlin {

constexpr std::size_t kPageBytes = 4096;

template <class T>
struct PageAllocator
{
    using value_type = T;
    PageAllocator() = default;
    template <class U>
    PageAllocator(const PageAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(kPageBytes))); }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, std::align_val_t(kPageBytes)); }
    template <class U>
    bool operator==(const PageAllocator<U>&) const noexcept
    {
        return true;
    }
    template <class U>
    bool operator!=(const PageAllocator<U>&) const noexcept
    {
        return false;
    }
};

using PageBytes = std::vector<unsigned char, PageAllocator<unsigned char>>;

} // namespace orlin
