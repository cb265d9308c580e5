// The PNG writer at the strongest compression: rows are filtered and deflated in bands on all the
// processors at once, into one zlib stream.
#pragma once

#include "GameSys.h"

class FByteWriter;

// Writes width x height RGBA8 pixels (rows from the top, no gaps) through writer as a
// non-interlaced 8-bit RGBA PNG. Each row takes the filter with the smallest sum of absolute
// differences; each band of rows is deflated on a worker thread, and the next band's blocks
// follow at a byte boundary. The file depends on the pixels alone, not on the machine.
// 1 on success, 0 on failure (no pixels, a size PNG cannot hold, a failed write).
int PngWriteBanded(const u8* pixels, u32 width, u32 height, FByteWriter& writer);
