// The computer's clock as the recording and playing code sees it.
#pragma once

#include <cstdint>

namespace kx {

// Milliseconds since an arbitrary origin, wrapping at 2^32 like the recorders' own tick counts.
uint32_t systemTickCountMs();

// The computer's standard time-zone offset in whole hours east of GMT: minus the zone's bias in
// minutes, divided by 60 with the remainder discarded (daylight saving is not applied).
int32_t systemGmtOffsetHours();

}  // namespace kx
