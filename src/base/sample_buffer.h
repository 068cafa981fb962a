// SampleBuffer: the container of large float planes. Growing it leaves the
// new samples unset, so that the threads of the heavy loops can write them
// first: fresh memory is mapped and cleared by the system on first touch, and
// a plane first touched by one thread would serialise that work. Blocks of
// several megabytes are placed where the system can back them with huge
// pages, which makes far fewer page faults and TLB misses in column passes.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace kestrune {

// Memory for large blocks (see kLargeBlockBytes): aligned to, and where the
// system supports it backed by, huge pages. Throws std::bad_alloc on failure;
// FreeLargeBlock takes the size that was asked for.
void* AllocateLargeBlock(std::size_t bytes);
void FreeLargeBlock(void* p, std::size_t bytes) noexcept;
inline constexpr std::size_t kLargeBlockBytes = std::size_t{4} << 20;

// While one of these is alive, freed large blocks stay mapped for reuse by
// later allocations: a fresh block is cleared by the system page by page on
// first touch, and a run maps planes of the same sizes again and again. The blocks kept never add to the memory the
// same run would hold without them (see AllocateLargeBlock); they are returned when the last one ends.
class LargeBlockReuse {
 public:
  LargeBlockReuse();
  ~LargeBlockReuse();
  LargeBlockReuse(const LargeBlockReuse&) = delete;
  LargeBlockReuse& operator=(const LargeBlockReuse&) = delete;
};

// std::allocator, except that a value-initialising construct (what resize
// uses) leaves the element default-initialised, i.e. unset for a float.
template <class T>
struct DefaultInitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };
  DefaultInitAllocator() = default;
  template <class U>
  DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n < kLargeBlockBytes / sizeof(T)) return std::allocator<T>::allocate(n);
    if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(AllocateLargeBlock(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n < kLargeBlockBytes / sizeof(T))
      std::allocator<T>::deallocate(p, n);
    else
      FreeLargeBlock(p, n * sizeof(T));
  }

  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using SampleBuffer = std::vector<float, DefaultInitAllocator<float>>;

// Resizes `buffer` to n samples and sets every one of them to `value`, the
// writing shared out among the threads.
void AssignParallel(SampleBuffer& buffer, std::size_t n, float value = 0.0f);

// Copies n samples from src to dst (not overlapping) on all threads.
void CopyParallel(const float* src, std::size_t n, float* dst);

}  // namespace kestrune
