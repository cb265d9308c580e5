// The command-line splitter: any text splits without fault, and the arguments it gives, quoted
// again by the rules the splitter reads (backslashes doubled before a quote and at the end),
// split back into the same arguments.
#include "FuzzSupport.h"

#include "GameArgs.h"

namespace
{
std::string Quoted(const TString& arg)
{
    std::string out = "\"";
    size_t backslashes = 0;
    for (u32 i = 0; i < arg.Length(); ++i)
    {
        const char c = arg.Str()[i];
        if (c == '\\')
        {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzStart({
        "plumweave -opc \"C:\\Docs\\My File.kvf\"",
        "a\\\\\\\"b \"c d\" e\\\\\"f g\" \"\"",
        "\t -listen  4000 \"unterminated",
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text((const char*)data, size);
    TArray<TString> args;
    gSysSplitCommandLine(text.c_str(), args);
    std::string joined;
    for (u32 i = 0; i < args.Count(); ++i)
        joined += (i ? " " : "") + Quoted(args[i]);
    TArray<TString> again;
    gSysSplitCommandLine(joined.c_str(), again);
    if (again.Count() != args.Count())
        FuzzFail("quoted arguments split into another count");
    for (u32 i = 0; i < args.Count(); ++i)
        if (!(again[i] == args[i]))
            FuzzFail("a quoted argument splits back as another text");
    return 0;
}
