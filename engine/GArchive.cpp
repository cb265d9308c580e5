#include "GArchive.h"

void SwapBytesCopy(void* dst, const void* src, u32 count, u32 elementSize)
{
    u8* d = (u8*)dst;
    const u8* s = (const u8*)src;
    if (elementSize == 1)
    {
        // Move, not copy: a reader may copy an array into itself.
        gMemMove(d, s, count);
        return;
    }
    for (u32 i = 0; i < count; ++i)
    {
        for (u32 b = 0; b < elementSize; ++b)
            d[b] = s[elementSize - 1 - b];
        d += elementSize;
        s += elementSize;
    }
}

// ---------------------------------------------------------------------------------------------
// FArchive

bool FArchive::Serialize(void*, u32, u32)
{
    // The bare interface carries no data.
    BREAK_IF(!"FArchive::Serialize is not implemented");
    Flags |= AR_Failed;
    return false;
}

void FArchive::Seek(u32)
{
}

bool FArchive::CopyFrom(FArchive& src)
{
    if (BREAK_IF(!src.IsReader() || !IsWriter()))
        return false;
    s64 n = src.TotalSize();
    if (n < 0 || n > (s64)UINT32_MAX)
    {
        Flags |= AR_Failed;
        return false;
    }
    src.Seek(0);
    u8* buffer = (u8*)MemAlloc((size_t)n);
    bool ok = src.Serialize(buffer, (u32)n, 1);
    ok = Serialize(buffer, (u32)n, 1) && ok;
    MemFree(buffer);
    return ok;
}

// ---------------------------------------------------------------------------------------------
// FByteArchive

FByteArchive::FByteArchive(TPodArray<u8>& array, u32 flags)
{
    Flags = flags;
    Data = &array;
}

void FByteArchive::Seek(u32 pos)
{
    Pos = pos < Data->Count() ? pos : Data->Count();
}

bool FByteArchive::TakeWholeContent(FArchive& src)
{
    if (BREAK_IF(!src.IsReader()))
        return false;
    s64 n = src.TotalSize();
    if (n < 0 || n > (s64)UINT32_MAX)
    {
        Flags |= AR_Failed;
        return false;
    }
    src.Seek(0);
    if (!Data->Resize((u32)n))
    {
        Flags |= AR_Failed;
        return false;
    }
    if (!src.Serialize(Data->data, (u32)n, 1))
    {
        Flags |= AR_Failed;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// FByteReader

FByteReader::FByteReader(TPodArray<u8>& array, u32 start) : FByteArchive(array, AR_IsReader)
{
    u32 newpos = start;
    // A reader that starts exactly at the end (an empty datagram payload, an empty file) is
    // legal: it holds nothing and every read fails safely, without a box, since such data comes
    // from any sender. Starting past the end is a caller's mistake; it is left at the end.
    if (BREAK_IF(newpos > Data->Count()))
        newpos = Data->Count();
    Pos = newpos;
}

bool FByteReader::Serialize(void* data, u32 count, u32 size)
{
    if (count == 0)
        return true;
    if (BREAK_IF(size == 0))
    {
        Flags |= AR_Failed;
        return false;
    }
    // Data from outside (files, datagrams) may be short: never copy past its end, zero the
    // destination so that nothing uninitialised leaks, and mark the failure.
    u64 bytes = (u64)count * size;
    u64 left = Pos <= Data->Count() ? (u64)(Data->Count() - Pos) : 0;
    if (bytes > left)
    {
        if (bytes <= UINT32_MAX)
            gMemSet(data, 0, (size_t)bytes);
        Flags |= AR_Failed;
        return false;
    }
    SwapBytesCopy(data, Data->data + Pos, count, size);
    Pos += (u32)bytes;
    return true;
}

bool FByteReader::CopyFrom(FArchive& src)
{
    bool ok = TakeWholeContent(src);
    Pos = 0;
    return ok;
}

// ---------------------------------------------------------------------------------------------
// FByteWriter

FByteWriter::FByteWriter(TPodArray<u8>& array, u32 start) : FByteArchive(array, AR_IsWriter)
{
    Pos = start < array.Count() ? start : array.Count();
}

bool FByteWriter::Serialize(void* data, u32 count, u32 size)
{
    if (count == 0)
        return true;
    if (BREAK_IF(size == 0))
    {
        Flags |= AR_Failed;
        return false;
    }
    // Someone may have shrunk the array under us: never leave a gap of unwritten bytes.
    if (Pos > Data->Count())
        Pos = Data->Count();
    u64 end = (u64)Pos + (u64)count * size;
    if (end > UINT32_MAX)
    {
        Flags |= AR_Failed;
        return false;
    }
    if (end > Data->Count() && !Data->Resize((u32)end))
    {
        Flags |= AR_Failed;
        return false;
    }
    SwapBytesCopy(Data->data + Pos, data, count, size);
    Pos = (u32)end;
    return true;
}

bool FByteWriter::CopyFrom(FArchive& src)
{
    bool ok = TakeWholeContent(src);
    Pos = Data->Count();
    return ok;
}
