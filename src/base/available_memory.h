// How much memory the process can still use: what the system reports as
// available (free and reclaimable memory plus free swap), capped by the
// process's address-space and data limits and by its control group's limit.
#pragma once

#include <cstdint>

namespace kestrune {

// Bytes, or UINT64_MAX when the system does not say.
uint64_t AvailableMemoryBytes();

}  // namespace kestrune
