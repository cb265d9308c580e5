// The text dictionary: any file loads without fault, holding the entries the parser reads from
// it, and any text expands against them.
#include "FuzzSupport.h"

#include "GameText.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzStart({
        "// comment\nOK = \"OK\"\nCANCEL = \"Cancel\"\n",
        "MF_New = \"New\\tfile\"\r\nMSG = \"$MF_New$ done\"\n",
        "A=\"x\" B = \"unterminated\nC\n= \"\"\n",
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzDir() + "/Default.txt";
    FuzzWriteFile(path, data, size);
    STextDictionary dict;
    dict.Folder = (FuzzDir() + "/").c_str();
    if (!dict.Load("Default.txt"))
        return 0;
    // The dictionary holds what the parser reads from the same text.
    TMap<TString, TString> entries;
    const u32 read = TEXT_ParseEntries(TString((const char*)data, (u32)size), entries);
    const u32 held = dict.Files.Count() ? dict.Files[0].Entries.Count() : 0;
    if (read != 0 && held != entries.Count())
        FuzzFail("the dictionary holds other entries than the parser reads");
    TString text((const char*)data, (u32)size);
    dict.Expand(text);
    return 0;
}
