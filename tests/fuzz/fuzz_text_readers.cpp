// The text readers and "#include" expansion. The input is split at NUL bytes into a main file and
// up to three files it may include by the names "a.inc", "b.inc" and "c.inc"; expansion must end
// without fault, and the readers walk the expanded text from every position without reading past it.
#include "FuzzSupport.h"

#include "GameParse.h"

namespace
{
const char* const NAMES[] = {"main.mtl", "a.inc", "b.inc", "c.inc"};
const int FILE_COUNT = 4;
// Reader positions tried per text, to keep one input's work bounded.
const u32 MAX_POSITIONS = 512;

void WalkReaders(const TString& text)
{
    const u32 n = text.Length() < MAX_POSITIONS ? text.Length() : MAX_POSITIONS;
    for (u32 start = 0; start <= n; ++start)
    {
        s32 pos = (s32)start;
        TString token;
        ParseToken(text, pos, token, IsTokenChar, IsWhiteSpace);
        pos = (s32)start;
        ParseInt(text, pos);
        pos = (s32)start;
        ParseFloat(text, pos);
        pos = (s32)start;
        mVec4 v;
        ParseVec4(text, pos, v);
        pos = (s32)start;
        ParseQuotedString(text, pos);
        pos = (s32)start;
        ParseSkipLine(text, pos);
        ParsePrevLine(text, pos);
        if (pos < 0 || (u32)pos > text.Length())
            FuzzFail("a reader moved outside the text");
    }
}
// Files of a seed, separated by NUL bytes as the target splits them.
std::string Files(const std::vector<std::string>& files)
{
    std::string out;
    for (size_t i = 0; i < files.size(); ++i)
        out += (i ? std::string(1, '\0') : std::string()) + files[i];
    return out;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzStart({
        Files({"line1\n#include \"a.inc\"\nline3\n", "A1\r\n#include \"b.inc\"\n", "B\n"}),
        Files({"#include \"a.inc\"\n#include \"a.inc\"\n", "#include \"b.inc\"\n#include \"b.inc\"\n",
               "#include \"main.mtl\"\n"}),
        "1.5e+006; -2,5; 3 4 \"quoted \\\" text\" word_1 -12ab\n",
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& dir = FuzzDir();
    size_t at = 0;
    for (int f = 0; f < FILE_COUNT; ++f)
    {
        size_t end = at;
        while (end < size && data[end] != 0)
            ++end;
        FuzzWriteFile(dir + "/" + NAMES[f], data + (at < size ? at : size), end > at ? end - at : 0);
        at = end + 1;
    }
    TString expanded;
    if (LoadTextWithIncludes((dir + "/" + NAMES[0]).c_str(), expanded))
        WalkReaders(expanded);
    WalkReaders(TString((const char*)data, (u32)size));
    return 0;
}
