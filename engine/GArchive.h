// Byte archives: one interface through which an object passes its fields whether it is being
// written or read, and a reader and a writer over a caller-owned byte array.
// Every element wider than one byte is stored big-endian (bytes reversed on this machine).
#pragma once

#include "GameSys.h"
#include "GTemplate.h"

// Bits of FArchive::Flags.
enum
{
    AR_IsReader = 1,
    AR_IsWriter = 2,
    // Set when a read asked for more than the data holds (or a call was malformed); sticky.
    AR_Failed = 4,
};

// Copies count elements of elementSize bytes, reversing the byte order of each element.
// elementSize 1 is a plain copy. Reversal is its own inverse, so reading and writing share it.
void SwapBytesCopy(void* dst, const void* src, u32 count, u32 elementSize);

class FArchive
{
public:
    u32 Flags;
    TPodArray<u8>* Data; // not owned
    u32 Pos;

    FArchive() : Flags(0), Data(nullptr), Pos(0) {}
    virtual ~FArchive() {}

    // Passes count elements of elementSize bytes. Returns false when the archive could not
    // do it (the archive is then marked failed).
    virtual bool Serialize(void* data, u32 count, u32 elementSize);
    // Moves to a byte position, clamped to the data (called with 0 before a whole copy).
    virtual void Seek(u32 pos);
    virtual s64 Tell() const { return -1; }
    virtual s64 TotalSize() const { return -1; }
    virtual bool AtEnd() const { return Tell() == TotalSize(); }
    // Takes the whole content of a reader.
    virtual bool CopyFrom(FArchive& src);

    bool IsReader() const { return (Flags & AR_IsReader) != 0; }
    bool IsWriter() const { return (Flags & AR_IsWriter) != 0; }
    bool HasFailed() const { return (Flags & AR_Failed) != 0; }
};

// What the reader and the writer share: a caller-owned byte array and a position in it.
class FByteArchive : public FArchive
{
public:
    void Seek(u32 pos) override;
    s64 Tell() const override { return Pos; }
    s64 TotalSize() const override { return Data->Count(); }

protected:
    FByteArchive(TPodArray<u8>& array, u32 flags);
    // Takes a reader's whole content into the array.
    bool TakeWholeContent(FArchive& src);
};

class FByteReader : public FByteArchive
{
public:
    FByteReader(TPodArray<u8>& array, u32 start);

    bool Serialize(void* data, u32 count, u32 elementSize) override;
    bool CopyFrom(FArchive& src) override;
};

class FByteWriter : public FByteArchive
{
public:
    FByteWriter(TPodArray<u8>& array, u32 start);

    bool Serialize(void* data, u32 count, u32 elementSize) override;
    bool CopyFrom(FArchive& src) override;
};
