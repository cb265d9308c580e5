#include "GamePngWrite.h"

#include <libdeflate.h>
#include <sched.h>
#include <string.h>
#include <zlib.h>

#include <atomic>
#include <memory>

#include "GArchive.h"
#include "GTemplate.h"
#include "GameMemoryRoom.h"
#include "GameThread.h"

// How the bands are compressed. On pictures that shrink moderately (generated clouds, noise and
// normal maps at 1024) libdeflate's near-optimal parse at level 10 writes files 5 to 50 percent
// smaller than zlib's level 9, in a fraction of the time: zlib's level 9 follows very long match
// chains through such smooth, repetitive pictures. Where a band hardly shrinks (fine-grained noise)
// only libdeflate's level 12 stays below zlib, and costs little more there. Where a band shrinks by
// more than about 12 times (clouds at 4096, gradients, flat areas) level 10 falls behind zlib in
// size without saving time and level 12 takes three times as long, so zlib's level 9 takes the
// band, primed with the bytes above it, and matches a single stream in size. A quick trial pass
// over the start of each band tells the three kinds apart. libdeflate compresses whole buffers
// only, so its bands start without the bytes above as their dictionary and end with a final
// block, which is reopened before the next band follows.

namespace
{
const u8 PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const u8 PNG_IEND_CHUNK[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
const u32 PNG_IHDR_SIZE = 13;
const u8 PNG_BIT_DEPTH = 8;
const u8 PNG_COLOR_RGBA = 6;
const u32 PNG_BYTES_PER_PIXEL = 4;
// Width and height are 31-bit in the header.
const u32 PNG_MAX_DIMENSION = 0x7FFFFFFFu;
// Chunk length and type before the data, CRC after it; lengths are 31-bit.
const u32 PNG_CHUNK_HEAD = 8;
const u32 PNG_CHUNK_TAIL = 4;
const u64 PNG_MAX_CHUNK = 0x7FFFFFFFu;

// Row filter types; the chosen type is the first byte of each filtered row.
enum
{
    FILTER_None,
    FILTER_Sub,
    FILTER_Up,
    FILTER_Average,
    FILTER_Paeth,
    FILTER_Count
};

// The zlib stream header: deflate with a 32 KiB window, strongest compression (checksum of the
// two bytes a multiple of 31).
const u8 ZLIB_HEADER[2] = {0x78, 0xDA};
const u32 ZLIB_ADLER_SIZE = 4;
const u32 DEFLATE_WINDOW = 32768;
// An empty stored block after the last block of a band: at most one byte finishing its 3 header
// bits, then LEN 0 and NLEN 0xFFFF.
const u8 DEFLATE_EMPTY_STORED[4] = {0x00, 0x00, 0xFF, 0xFF};
const u32 DEFLATE_REOPEN_EXTRA = 1 + sizeof(DEFLATE_EMPTY_STORED);

const int PARSE_LEVEL = 10;     // libdeflate's first near-optimal level
const int DENSE_LEVEL = 12;     // its strongest
const int TRIAL_LEVEL = 1;      // its quickest
const int ZLIB_LEVEL = 9;
const int ZLIB_MEM_LEVEL = 9;
// Bytes of each band that the trial pass compresses, the ratio above which zlib takes the band,
// and the one below which libdeflate's strongest level does.
const u32 TRIAL_BYTES = 128 * 1024;
const u32 ZLIB_BAND_RATIO = 12;
const u32 DENSE_BAND_RATIO = 2;

// A picture is cut into at most MAX_BANDS bands of whole rows, each of at least BAND_MIN_BYTES
// filtered bytes (but for a picture of one band and the last band's rounding): enough bands to keep
// every processor busy, few enough that what each band boundary costs (a new block and its code
// tables, and for libdeflate a window without the bytes above) stays far below a percent of the
// file. The plan depends on the picture alone, so a picture gives the same file on every machine.
const u32 BAND_MIN_BYTES = 512 * 1024;
// Pictures whose first rows shrink by hundreds of times (gradients, flat areas) are cut into fewer
// bands: a band boundary costs some 40 bytes, a visible part of so small a file.
const u32 FEW_BANDS_RATIO = 64;
const u32 FEW_BANDS_MIN_BYTES = 1280 * 1024;
const u32 MAX_BANDS = 16;
// Rows longer than this are refused: their filter costs must add up within 32 bits.
const size_t MAX_ROW_BYTES = (size_t)1 << 24;
const u32 MAX_THREADS = 64;
// What a helper takes besides its stack: its compressors and scratch.
const u64 HELPER_WORK_BYTES = 4ull << 20;
const u32 INFLATE_SCRATCH = 64 * 1024;

inline void PutBE32(u8* p, u32 v)
{
    p[0] = (u8)(v >> 24);
    p[1] = (u8)(v >> 16);
    p[2] = (u8)(v >> 8);
    p[3] = (u8)v;
}

// The heuristic's cost of a filtered byte: its distance from 0 read as a signed byte.
inline u8 FilterCost(u8 v)
{
    const u8 negated = (u8)(0u - v);
    return v < negated ? v : negated;
}

// Rows are at most MAX_ROW_BYTES long, so the sum fits.
u32 FilterCostSum(const u8* bytes, size_t count)
{
    u32 sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += FilterCost(bytes[i]);
    return sum;
}

// Filters one row (prev is the row above, zeros above the first) into out: the filter type, then
// rowBytes bytes. Each filter is tried and the one with the smallest sum of costs taken, the first
// of equal ones. cand holds FILTER_Count - 1 rows of scratch. The loops are kept apart and free of
// branches so that the compiler turns them into vector code.
void FilterRow(const u8* row, const u8* prev, size_t rowBytes, u8* out, u8* cand)
{
    const size_t bpp = PNG_BYTES_PER_PIXEL;
    u8* sub = cand;
    u8* up = cand + rowBytes;
    u8* avg = cand + 2 * rowBytes;
    u8* paeth = cand + 3 * rowBytes;
    // Left of the first pixel a and c are 0: Average takes half the byte above, Paeth the byte above.
    for (size_t i = 0; i < bpp; ++i)
    {
        sub[i] = row[i];
        avg[i] = (u8)(row[i] - (prev[i] >> 1));
        paeth[i] = (u8)(row[i] - prev[i]);
    }
    for (size_t i = bpp; i < rowBytes; ++i)
        sub[i] = (u8)(row[i] - row[i - bpp]);
    for (size_t i = bpp; i < rowBytes; ++i)
        avg[i] = (u8)(row[i] - ((row[i - bpp] + prev[i]) >> 1));
    for (size_t i = 0; i < rowBytes; ++i)
        up[i] = (u8)(row[i] - prev[i]);
    for (size_t i = bpp; i < rowBytes; ++i)
    {
        const int a = row[i - bpp], b = prev[i], c = prev[i - bpp];
        int pa = b - c, pb = a - c, pc = a + b - 2 * c;
        pa = pa < 0 ? -pa : pa;
        pb = pb < 0 ? -pb : pb;
        pc = pc < 0 ? -pc : pc;
        int predictor = pb <= pc ? b : c;
        predictor = pa <= pb && pa <= pc ? a : predictor;
        paeth[i] = (u8)(row[i] - predictor);
    }

    const u8* rows[FILTER_Count] = {row, sub, up, avg, paeth};
    int best = FILTER_None;
    u32 bestSum = ~0u;
    for (int f = 0; f < FILTER_Count; ++f)
    {
        const u32 sum = FilterCostSum(rows[f], rowBytes);
        if (sum < bestSum)
        {
            bestSum = sum;
            best = f;
        }
    }
    out[0] = (u8)best;
    memcpy(out + 1, rows[best], rowBytes);
}

struct SPngBand
{
    u32 FirstRow;
    u32 EndRow;
    // The band's part of the zlib stream (the first one with the stream's header, the last one
    // with its checksum once every band's is known) and the CRC of those bytes. Bands are written
    // together in as few IDAT chunks as lengths allow, their CRCs combined.
    TPodArray<u8> Stream;
    u32 Crc;
    u32 Adler;
    size_t FilteredBytes;
    bool Done;
};

struct SPngJob
{
    const u8* Pixels;
    u32 Width;
    u32 Height;
    size_t RowBytes;
    SPngBand* Bands;
    u32 BandCount;
    std::atomic<u32> NextBand;
};

// What one thread keeps between its bands.
struct SPngWorker
{
    TPodArray<u8> Filtered;
    TPodArray<u8> Dictionary;
    TPodArray<u8> Candidates;
    TPodArray<u8> ZeroRow;
    TPodArray<u8> InflateScratch;
    // By libdeflate level, made when first needed.
    libdeflate_compressor* Compressors[DENSE_LEVEL + 1] = {};

    libdeflate_compressor* Compressor(int level)
    {
        if (!Compressors[level])
            Compressors[level] = libdeflate_alloc_compressor(level);
        return Compressors[level];
    }

    ~SPngWorker()
    {
        for (libdeflate_compressor* c : Compressors)
            if (c)
                libdeflate_free_compressor(c);
    }
};

// Compresses the start of filtered bytes at the quickest level to see how well they shrink: the
// ratio of input to output, 0 when it is below DENSE_BAND_RATIO, -1 on failure.
double TrialRatio(SPngWorker& w, const u8* filtered, size_t size)
{
    libdeflate_compressor* trial = w.Compressor(TRIAL_LEVEL);
    if (!trial || !w.InflateScratch.Resize(INFLATE_SCRATCH))
        return -1;
    // The scratch holds half of the trial's input: a trial that does not fit shrinks by less than 2.
    static_assert(TRIAL_BYTES / DENSE_BAND_RATIO <= INFLATE_SCRATCH, "the trial's room decides dense bands");
    const size_t in = size < TRIAL_BYTES ? size : TRIAL_BYTES;
    const size_t out = libdeflate_deflate_compress(trial, filtered, in, w.InflateScratch.data, in / DENSE_BAND_RATIO);
    return out ? (double)in / out : 0;
}

// Filters rows [first, end) of the picture into out, (rowBytes + 1) bytes a row.
bool FilterRows(const SPngJob& job, SPngWorker& w, u32 first, u32 end, TPodArray<u8>& out)
{
    const size_t rowBytes = job.RowBytes;
    if (!out.Resize((u32)((end - first) * (rowBytes + 1))) || !w.Candidates.Resize((u32)(rowBytes * 4)))
        return false;
    if (w.ZeroRow.count != rowBytes)
    {
        if (!w.ZeroRow.Resize((u32)rowBytes))
            return false;
        memset(w.ZeroRow.data, 0, rowBytes);
    }
    for (u32 y = first; y < end; ++y)
    {
        const u8* row = job.Pixels + (size_t)y * rowBytes;
        const u8* prev = y > 0 ? row - rowBytes : w.ZeroRow.data;
        FilterRow(row, prev, rowBytes, out.data + (size_t)(y - first) * (rowBytes + 1), w.Candidates.data);
    }
    return true;
}

// libdeflate ends every stream with a final block. Clears that block's final bit and appends an
// empty stored block, so the stream goes on at a byte boundary (zlib's sync-flush marker). The
// block headers are found by zlib's inflate, which stops at each block boundary and tells how many
// bits of the last byte it read are unused. data has room for DEFLATE_REOPEN_EXTRA more bytes.
// Returns the new size, 0 when the data is not one whole deflate stream.
size_t ReopenFinalBlock(u8* data, size_t size, TPodArray<u8>& scratch)
{
    z_stream z;
    memset(&z, 0, sizeof(z));
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return 0;
    z.next_in = data;
    z.avail_in = (uInt)size;
    size_t headerByte = 0;
    u32 headerBit = 0;
    // Bits of the last byte left unused after the final block, told when inflate stops there
    // (once past it the count is gone).
    u32 unused = 8;
    int rc = Z_OK;
    for (;;)
    {
        z.next_out = scratch.data;
        z.avail_out = scratch.count;
        rc = inflate(&z, Z_BLOCK);
        if (rc != Z_OK)
            break;
        if (!(z.data_type & 128))
            continue;
        // Stopped at a block boundary: after a block that was not final the next header starts
        // here; after the final one the stream ends here.
        const u32 bits = (u32)z.data_type & 7;
        const size_t consumed = (size_t)(z.next_in - data);
        if (z.data_type & 64)
            unused = bits;
        else
        {
            headerByte = bits ? consumed - 1 : consumed;
            headerBit = bits ? 8 - bits : 0;
        }
    }
    const size_t consumed = (size_t)(z.next_in - data);
    inflateEnd(&z);
    if (rc != Z_STREAM_END || consumed != size || headerByte >= size || unused > 7)
        return 0;
    data[headerByte] &= (u8) ~(1u << headerBit);
    // The stored block's header (not final, type 0) is three zero bits after the last block; the
    // rest of its byte is padding.
    size_t end = size;
    if (unused)
        data[end - 1] &= (u8)((1u << (8 - unused)) - 1);
    if (unused < 3)
        data[end++] = 0;
    memcpy(data + end, DEFLATE_EMPTY_STORED, sizeof(DEFLATE_EMPTY_STORED));
    return end + sizeof(DEFLATE_EMPTY_STORED);
}

// zlib at its strongest, primed with the last window of filtered bytes above the band. Appends
// to out, which has room bytes.
bool DeflateWithZlib(const SPngJob& job, SPngWorker& w, const SPngBand& band, bool last, u8* out, size_t room,
                     size_t& written)
{
    z_stream z;
    memset(&z, 0, sizeof(z));
    if (deflateInit2(&z, ZLIB_LEVEL, Z_DEFLATED, -MAX_WBITS, ZLIB_MEM_LEVEL, Z_FILTERED) != Z_OK)
        return false;
    bool ok = true;
    if (band.FirstRow > 0)
    {
        const size_t stride = job.RowBytes + 1;
        const u32 rowsAbove = (u32)((DEFLATE_WINDOW + stride - 1) / stride);
        const u32 first = band.FirstRow > rowsAbove ? band.FirstRow - rowsAbove : 0;
        ok = FilterRows(job, w, first, band.FirstRow, w.Dictionary);
        if (ok)
        {
            const u32 size = w.Dictionary.count < DEFLATE_WINDOW ? w.Dictionary.count : DEFLATE_WINDOW;
            ok = deflateSetDictionary(&z, w.Dictionary.data + w.Dictionary.count - size, size) == Z_OK;
        }
    }
    if (ok)
    {
        z.next_in = w.Filtered.data;
        z.avail_in = (uInt)band.FilteredBytes;
        z.next_out = out;
        z.avail_out = (uInt)room;
        const int rc = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
        ok = last ? rc == Z_STREAM_END : rc == Z_OK && z.avail_in == 0 && z.avail_out > 0;
        written = room - z.avail_out;
    }
    deflateEnd(&z);
    return ok;
}

// Filters and compresses one band into its chunk. The first band's data begins with the zlib
// header; every band but the last ends at a byte boundary with the stream still open.
bool EncodeBand(const SPngJob& job, SPngWorker& w, SPngBand& band, u32 index)
{
    const bool first = index == 0, last = index + 1 == job.BandCount;
    if (!FilterRows(job, w, band.FirstRow, band.EndRow, w.Filtered))
        return false;
    band.FilteredBytes = w.Filtered.count;
    band.Adler = (u32)adler32_z(adler32_z(0, nullptr, 0), w.Filtered.data, band.FilteredBytes);

    const double ratio = TrialRatio(w, w.Filtered.data, band.FilteredBytes);
    if (ratio < 0)
        return false;
    const bool useZlib = ratio > ZLIB_BAND_RATIO;
    const int level = ratio == 0 ? DENSE_LEVEL : PARSE_LEVEL;
    libdeflate_compressor* compressor = nullptr;

    z_stream bound;
    memset(&bound, 0, sizeof(bound));
    size_t room = 0;
    if (useZlib)
        room = deflateBound(&bound, (uLong)band.FilteredBytes) + DEFLATE_REOPEN_EXTRA;
    else
    {
        compressor = w.Compressor(level);
        if (!compressor)
            return false;
        room = libdeflate_deflate_compress_bound(compressor, band.FilteredBytes) + DEFLATE_REOPEN_EXTRA;
    }
    const size_t head = first ? sizeof(ZLIB_HEADER) : 0;
    const size_t total = head + room + ZLIB_ADLER_SIZE;
    if (total > TEMPLATE_MAX_COUNT || !band.Stream.Resize((u32)total))
        return false;
    u8* data = band.Stream.data;
    if (first)
        memcpy(data, ZLIB_HEADER, sizeof(ZLIB_HEADER));
    size_t written = 0;
    if (useZlib)
    {
        if (!DeflateWithZlib(job, w, band, last, data + head, room, written))
            return false;
    }
    else
    {
        written = libdeflate_deflate_compress(compressor, w.Filtered.data, band.FilteredBytes, data + head,
                                              room - DEFLATE_REOPEN_EXTRA);
        if (written && !last)
            written = ReopenFinalBlock(data + head, written, w.InflateScratch);
        if (!written)
            return false;
    }
    band.Stream.Resize((u32)(head + written));
    band.Crc = (u32)crc32_z(crc32_z(0, nullptr, 0), band.Stream.data, band.Stream.count);
    return true;
}

u32 EncodeBands(void* context)
{
    SPngJob& job = *(SPngJob*)context;
    SPngWorker worker;
    for (;;)
    {
        const u32 i = job.NextBand.fetch_add(1, std::memory_order_relaxed);
        if (i >= job.BandCount)
            break;
        job.Bands[i].Done = EncodeBand(job, worker, job.Bands[i], i);
        if (!job.Bands[i].Done)
            job.Bands[i].Stream.Clear();
    }
    return 0;
}

u32 ProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0)
        return 1;
    const int n = CPU_COUNT(&set);
    return n < 1 ? 1 : (u32)n;
}

bool WriteChunk(FByteWriter& writer, const char* type, const u8* data, u32 size)
{
    u8 head[PNG_CHUNK_HEAD], tail[PNG_CHUNK_TAIL];
    PutBE32(head, size);
    memcpy(head + 4, type, 4);
    uLong crc = crc32_z(crc32_z(0, nullptr, 0), head + 4, 4);
    crc = crc32_z(crc, data, size);
    PutBE32(tail, (u32)crc);
    return writer.Serialize(head, sizeof(head), 1) && writer.Serialize((void*)data, size, 1) &&
           writer.Serialize(tail, sizeof(tail), 1);
}
} // namespace

int PngWriteBanded(const u8* pixels, u32 width, u32 height, FByteWriter& writer)
{
    if (width == 0 || height == 0 || !pixels || width > PNG_MAX_DIMENSION || height > PNG_MAX_DIMENSION)
        return 0;
    const size_t rowBytes = (size_t)width * PNG_BYTES_PER_PIXEL;
    if (rowBytes > MAX_ROW_BYTES)
        return 0;
    const size_t stride = rowBytes + 1;

    SPngJob job;
    job.Pixels = pixels;
    job.Width = width;
    job.Height = height;
    job.RowBytes = rowBytes;

    // The trial of the first rows, here on this thread, sets how finely the picture is cut.
    u32 bandMinBytes = BAND_MIN_BYTES;
    {
        SPngWorker first;
        const u32 rows = (u32)((TRIAL_BYTES + stride - 1) / stride);
        if (!FilterRows(job, first, 0, rows < height ? rows : height, first.Filtered))
            return 0;
        const double ratio = TrialRatio(first, first.Filtered.data, first.Filtered.count);
        if (ratio < 0)
            return 0;
        if (ratio > FEW_BANDS_RATIO)
            bandMinBytes = FEW_BANDS_MIN_BYTES;
    }
    const u64 filteredBytes = (u64)height * stride;
    u64 bandCount64 = filteredBytes / bandMinBytes;
    if (bandCount64 < 1)
        bandCount64 = 1;
    if (bandCount64 > MAX_BANDS)
        bandCount64 = MAX_BANDS;
    if (bandCount64 > height)
        bandCount64 = height;
    const u64 rowsPerBand = ((u64)height + bandCount64 - 1) / bandCount64;
    const u32 bandCount = (u32)(((u64)height + rowsPerBand - 1) / rowsPerBand);
    u32 threads = ProcessorCount();
    if (threads > MAX_THREADS)
        threads = MAX_THREADS;
    // Under a memory limit, no more helpers than the room left holds.
    threads = MEM_ThreadsFitting(MEM_ThreadStack() + HELPER_WORK_BYTES, threads);

    std::unique_ptr<SPngBand[]> bands(new SPngBand[bandCount]);
    for (u32 i = 0; i < bandCount; ++i)
    {
        bands[i].FirstRow = (u32)(i * rowsPerBand);
        bands[i].EndRow = (u32)((u64)bands[i].FirstRow + rowsPerBand < height ? bands[i].FirstRow + rowsPerBand : height);
        bands[i].Adler = 0;
        bands[i].Crc = 0;
        bands[i].FilteredBytes = 0;
        bands[i].Done = false;
    }
    job.Bands = bands.get();
    job.BandCount = bandCount;
    job.NextBand.store(0);

    // This thread takes bands too; a helper that fails to start leaves its share to the others.
    const u32 helpers = (threads < bandCount ? threads : bandCount) - 1;
    std::unique_ptr<SThread[]> pool(new SThread[helpers ? helpers : 1]);
    for (u32 i = 0; i < helpers; ++i)
        pool[i].Start(EncodeBands, &job);
    EncodeBands(&job);
    for (u32 i = 0; i < helpers; ++i)
        if (pool[i].Thread)
            pool[i].Wait(THREAD_INFINITE);

    uLong adler = adler32_z(0, nullptr, 0);
    for (u32 i = 0; i < bandCount; ++i)
    {
        if (!bands[i].Done)
            return 0;
        adler = adler32_combine(adler, bands[i].Adler, (z_off_t)bands[i].FilteredBytes);
    }
    SPngBand& tail = bands[bandCount - 1];
    u8 adlerBytes[ZLIB_ADLER_SIZE];
    PutBE32(adlerBytes, (u32)adler);
    if (!tail.Stream.Append(adlerBytes, ZLIB_ADLER_SIZE))
        return 0;
    tail.Crc = (u32)crc32_combine(tail.Crc, crc32_z(crc32_z(0, nullptr, 0), adlerBytes, ZLIB_ADLER_SIZE),
                                  ZLIB_ADLER_SIZE);

    u8 ihdr[PNG_IHDR_SIZE] = {};
    PutBE32(ihdr, width);
    PutBE32(ihdr + 4, height);
    ihdr[8] = PNG_BIT_DEPTH;
    ihdr[9] = PNG_COLOR_RGBA;
    bool ok = writer.Serialize((void*)PNG_SIGNATURE, sizeof(PNG_SIGNATURE), 1) &&
              WriteChunk(writer, "IHDR", ihdr, sizeof(ihdr));
    for (u32 first = 0; ok && first < bandCount;)
    {
        u32 end = first;
        u64 size = 0;
        while (end < bandCount && size + bands[end].Stream.count <= PNG_MAX_CHUNK)
            size += bands[end++].Stream.count;
        if (end == first)
            return 0;
        u8 head[PNG_CHUNK_HEAD], crcBytes[PNG_CHUNK_TAIL];
        PutBE32(head, (u32)size);
        memcpy(head + 4, "IDAT", 4);
        uLong crc = crc32_z(crc32_z(0, nullptr, 0), head + 4, 4);
        ok = writer.Serialize(head, sizeof(head), 1);
        for (u32 i = first; ok && i < end; ++i)
        {
            ok = writer.Serialize(bands[i].Stream.data, bands[i].Stream.count, 1);
            crc = crc32_combine(crc, bands[i].Crc, (z_off_t)bands[i].Stream.count);
        }
        PutBE32(crcBytes, (u32)crc);
        ok = ok && writer.Serialize(crcBytes, sizeof(crcBytes), 1);
        first = end;
    }
    ok = ok && writer.Serialize((void*)PNG_IEND_CHUNK, sizeof(PNG_IEND_CHUNK), 1);
    return ok ? 1 : 0;
}
