// What the library says of itself, and the loud end of a misused Result.
#include <cstdio>
#include <cstdlib>

#include "kestrune/result.h"
#include "kestrune/version.h"

namespace kestrune {

const char* Version() { return KESTRUNE_VERSION_STRING; }

namespace detail {

void EmptyResultAccess(const Error& error) {
  std::fprintf(stderr, "kestrune: value() of a Result that holds none (%s)\n",
               error ? error.message.c_str() : "no error either");
  std::abort();
}

}  // namespace detail
}  // namespace kestrune
