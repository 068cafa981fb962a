// SampleBuffer: the container of large float planes. Growing it leaves the
// new samples unset, so that the threads of the heavy loops can write them
// first: fresh memory is mapped and cleared by the system on first touch, and
// a plane first touched by one thread would serialise that work.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

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
