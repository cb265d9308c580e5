// Value texts: whatever text is read into a value of any type writes a text that reads back to
// the same value, and writing that again gives the same text.
#include "FuzzSupport.h"

#include <string.h>

#include "GameParams.h"

namespace
{
const u32 TYPES[] = {EVT_Int,   EVT_Float, EVT_ID,    EVT_Vec2,  EVT_Vec3,   EVT_Vec4,    EVT_Polar,
                     EVT_Vec3A, EVT_ColRGBA, EVT_ColHSV, EVT_Pos, EVT_Vec3B, EVT_Vec3C, EVT_String,
                     EVT_StringA, EVT_StringB, EVT_Mesh};
const u32 TYPE_COUNT = sizeof(TYPES) / sizeof(TYPES[0]);

bool IsString(u32 type)
{
    return type >= EVT_String && type <= EVT_Mesh;
}

// The text between the quotes ParamToText puts around a value.
TString Unquoted(const TString& quoted)
{
    if (quoted.Length() < 2 || quoted.Str()[0] != '"' || quoted.Str()[quoted.Length() - 1] != '"')
        FuzzFail("a value text is not quoted");
    return TString(quoted.Str() + 1, quoted.Length() - 2);
}

bool SameValue(u32 type, const SPropValue& a, const SPropValue& b)
{
    if (IsString(type))
        return a.String == b.String;
    if (type == EVT_Int || type == EVT_ID)
        return a.Int == b.Int;
    // Floats compare by their bits: the text must bring back the very value, sign of zero included.
    // Every float field is compared; those the type does not use hold their defaults in both.
    return memcmp(&a.Float, &b.Float, sizeof(a.Float)) == 0 && memcmp(&a.Vec2, &b.Vec2, sizeof(a.Vec2)) == 0 &&
           memcmp(&a.Vec3, &b.Vec3, sizeof(a.Vec3)) == 0 && memcmp(&a.Vec4, &b.Vec4, sizeof(a.Vec4)) == 0 &&
           memcmp(&a.Polar, &b.Polar, sizeof(a.Polar)) == 0 && memcmp(&a.ColRGBA, &b.ColRGBA, sizeof(a.ColRGBA)) == 0;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzStart({
        std::string("\x0B") + "1e39",
        std::string("\x05") + "-1e39;3.4028235e38;1e-50",
        std::string("\x06") + "1.5e+006;-0;2,5;inf",
        std::string("\x0D") + "tab\\there \\\"quoted\\\" \\x41\\101",
        std::string("\x00", 1) + "-2147483649",
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const u32 type = TYPES[data[0] % TYPE_COUNT];
    const bool raw = (data[0] & 0x80) != 0;
    const std::string text((const char*)data + 1, size - 1);

    SPropDesc first(type, "v");
    ParamFromText(first, text.c_str(), raw);
    TString written;
    ParamToText(first, written);
    // The written text is a document's: read as such, not raw.
    SPropDesc second(type, "v");
    ParamFromText(second, Unquoted(written).Str(), false);
    TString again;
    ParamToText(second, again);
    if (!(again == written))
        FuzzFail("a written value text changes when read and written again");
    // Vectors keep six digits per component, so the value itself is compared after one reading.
    SPropDesc third(type, "v");
    ParamFromText(third, Unquoted(again).Str(), false);
    if (!SameValue(type, second.Default, third.Default))
        FuzzFail("a written value reads back as another value");
    if (IsString(type) && !SameValue(type, first.Default, second.Default))
        FuzzFail("a string value changes when written and read back");
    return 0;
}
