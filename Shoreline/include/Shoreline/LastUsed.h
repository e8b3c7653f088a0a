#pragma once

#include "Shoreline/ShorelineContext.h"

// Where "last opened" dates come from. On Linux: the file's access time (statx), which relatime
// keeps within a day of the last read. There is no answer for a folder (listing it moves its
// access time, so our own scan would make every folder look fresh), for a path that cannot be
// examined, or when the file system does not keep access times (mounted noatime): the rules then
// judge by the modification time.
namespace shoreline::LastUsed {

// The platform's default source. The returned function is thread-safe.
[[nodiscard]] ShorelineContext::LastUsedFunction spotlight();

// A source that never knows: ages come from modification times alone.
[[nodiscard]] ShorelineContext::LastUsedFunction unknown();

}  // namespace shoreline::LastUsed
