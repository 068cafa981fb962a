// RunningMax: the maximum of the last `length` values pushed, in amortised
// constant time (a rescan only when the outgoing value was the maximum).
#pragma once

#include <vector>

template <typename T>
class RunningMax {
 public:
  RunningMax(unsigned length, T initial);
  virtual ~RunningMax() = default;
  // Stores v and returns the maximum of the window after the store.
  T Push(T v);

 private:
  unsigned length;
  unsigned maxIndex = 0;
  unsigned pos = 0;
  std::vector<T> slots;
  T initial;
};
