// RunningMax: the maximum of the last `length` values pushed, in amortised
// constant time (a rescan only when the outgoing value was the maximum).
#pragma once

#include <vector>

namespace kestrune {

template <typename T>
class RunningMax {
 public:
  // Every slot starts at `initial`, and every rescan starts from it; the
  // result is the true window maximum only while `initial` is not larger than
  // the values pushed. A length of 0 is taken as 1.
  RunningMax(unsigned length, T initial)
      : length(length == 0 ? 1u : length), slots(length == 0 ? 1u : length, initial), initial(initial) {}
  virtual ~RunningMax() = default;

  // Stores v and returns the maximum of the window after the store.
  T Push(T v) {
    const T old = slots[maxIndex];
    slots[pos] = v;
    if (v >= old) {
      maxIndex = pos;
    } else if (maxIndex == pos) {
      // The old maximum was just overwritten by a smaller value: scan from the
      // oldest value to the newest; ">=" keeps the newest of equal maxima.
      T m = initial;
      for (unsigned i = pos + 1; i < length; ++i)
        if (slots[i] >= m) {
          m = slots[i];
          maxIndex = i;
        }
      for (unsigned i = 0; i <= pos; ++i)
        if (slots[i] >= m) {
          m = slots[i];
          maxIndex = i;
        }
    }
    if (++pos == length) pos = 0;
    return slots[maxIndex];
  }

 private:
  unsigned length;
  unsigned maxIndex = 0;
  unsigned pos = 0;
  std::vector<T> slots;
  T initial;
};

}  // namespace kestrune
