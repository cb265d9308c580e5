// The byte reader and entity serialisation: any bytes read into an entity without fault, and
// what was read writes back as the same bytes.
#include "FuzzSupport.h"

#include <string.h>

#include "GArchive.h"
#include "GameParams.h"

namespace
{
class CFuzzEntity : public CEntity
{
public:
    explicit CFuzzEntity(TArray<SPropDesc>& table) : CEntity(table) {}
    void Reserved1(u32) override {}
};
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzStart({
        FuzzBE32(7) + FuzzBE32(0x3F800000) + FuzzBE32(0xC0000000) + FuzzBE32(0x3F000000),
        FuzzBE32(0xFFFFFFFF) + FuzzBE32(0x7FC00000),
        std::string("\x01\x02\x03", 3),
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks where the reader starts; the rest is the data.
    TPodArray<u8> bytes;
    bytes.Append(data + 1, (u32)size - 1);
    const u32 start = data[0] % (bytes.Count() + 2);
    TArray<SPropDesc> table;
    InstantiatePropTable(table, CEntity::PropTable());
    CFuzzEntity e(table);
    FByteReader reader(bytes, start);
    e.Serialize(reader, 0);
    if (reader.HasFailed())
        return 0;
    // Read whole: the same fields write back as the same bytes.
    TPodArray<u8> out;
    FByteWriter writer(out, 0);
    e.Serialize(writer, 0);
    const u32 used = reader.Pos - start;
    if (writer.HasFailed() || out.Count() != used || memcmp(out.data, bytes.data + start, used) != 0)
        FuzzFail("an entity read from bytes writes other bytes");

    // Arbitrary element sizes and counts through a fresh reader never read past the data.
    FByteReader any(bytes, 0);
    u8 buffer[64];
    for (u32 i = 0; i < bytes.Count() && !any.HasFailed(); ++i)
    {
        const u32 elementSize = 1u << (bytes[i] & 3);
        const u32 count = (bytes[i] >> 2) % (sizeof(buffer) / elementSize + 1);
        any.Serialize(buffer, count, elementSize);
    }
    return 0;
}
