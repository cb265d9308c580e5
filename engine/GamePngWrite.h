// The PNG writer at the strongest compression: rows are filtered and deflated in bands on all the
// processors at once, into one zlib stream.
#pragma once

#include "GameSys.h"

class FByteWriter;
class SImageInterface;

// Writes image (its first slice) through writer as a non-interlaced 8-bit RGBA PNG. Each row takes
// the filter with the smallest sum of absolute differences; each band of rows is deflated on a
// worker thread, starting a new deflate block at byte granularity where the next band begins.
// 1 on success, 0 on failure (an empty image, a size PNG cannot hold, a failed write).
int PngWriteBanded(const SImageInterface& image, FByteWriter& writer);
