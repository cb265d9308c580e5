#include "GameText.h"
#include "GameFileIO.h"
#include "GameParse.h"
#include "GameParams.h"

STextDictionary GTextDict;

u32 TEXT_ParseEntries(const TString& text, TMap<TString, TString>& entries)
{
    u32 read = 0;
    s32 pos = 0;
    const s32 end = (s32)text.Length();
    ParseSkipWhile(text, pos, IsWhiteSpace);
    while (pos < end)
    {
        const s32 start = pos;
        TString key;
        if (!ParseToken(text, pos, key, IsWordChar, IsWhiteSpace))
        {
            // Not an entry: the rest of the line is a comment.
            if (!ParseSkipLine(text, pos))
                pos = end;
        }
        else
        {
            ParseSkipWhile(text, pos, IsBlank);
            ParseExpectChar(text, pos, '='); // a missing '=' is tolerated
            ParseSkipWhile(text, pos, IsBlank);
            if (pos < end && text.Str()[pos] == '"')
            {
                TString value = ParseQuotedString(text, pos);
                if (ParseFailed())
                    pos = end; // no closing quote: the rest of the file is dropped
                else
                {
                    UnescapeString(value, false);
                    entries.GetOrAdd(key) = value;
                    ++read;
                }
            }
            else if (!ParseSkipLine(text, pos))
                pos = end;
        }
        // Every step moves forward, whatever the text holds.
        if (pos <= start)
            pos = start + 1;
        ParseSkipWhile(text, pos, IsWhiteSpace);
    }
    return read;
}

bool STextDictionary::Load(const char* fileName)
{
    if (!fileName)
        return false;
    if (IsLoaded(fileName))
        return true;
    TString path = Folder + fileName;
    TString text;
    while (!ReadTextFile(path.Str(), text))
    {
        char message[512];
        gSNPrintf(message, sizeof(message), "Failed loading text dictionary\n%s\n\nRetry?", path.Str());
        if (!gSysQuestion(message, "Text dictionary processor error"))
            return false;
    }
    STextSection section;
    section.FileName = fileName;
    if (TEXT_ParseEntries(text, section.Entries) == 0)
        return true;
    Files.Add(section);
    return true;
}

bool STextDictionary::Find(const char* key, TString& out) const
{
    TString k(key);
    for (u32 i = Files.Count(); i-- > 0;)
    {
        const TMap<TString, TString>::Node* node = Files[i].Entries.Find(k);
        if (node)
        {
            out = node->value;
            return true;
        }
    }
    return false;
}

const TString& STextDictionary::Get(const char* key) const
{
    TString k(key);
    for (u32 i = Files.Count(); i-- > 0;)
    {
        const TMap<TString, TString>::Node* node = Files[i].Entries.Find(k);
        if (node)
            return node->value;
    }
    return Default;
}

static bool IsKeyChar(char c)
{
    return gIsAlnum((unsigned char)c) || c == '_';
}

void STextDictionary::Expand(TString& text) const
{
    u32 i = 0;
    while (i < text.Length())
    {
        if (text.Str()[i] != '$')
        {
            ++i;
            continue;
        }
        u32 open = i;
        u32 close = open + 1;
        while (close < text.Length() && text.Str()[close] != '$')
            ++close;
        if (close >= text.Length())
            return; // no closing '$'
        TString key;
        for (u32 k = open + 1; k < close; ++k)
            if (IsKeyChar(text.Str()[k]))
                key += text.Str()[k];
        TString value;
        if (Find(key.Str(), value))
        {
            text.Remove(open, close);
            text.Insert(open, value);
            i = open + value.Length();
        }
        else
            i = close + 1;
    }
}

void STextDictionary::SetLanguage(const char* folder)
{
    if (!folder)
        folder = "";
    if (Folder == folder)
        return;
    Folder = folder;
    TArray<TString> names;
    for (u32 i = 0; i < Files.Count(); ++i)
        names.Add(Files[i].FileName);
    Files.Clear();
    for (u32 i = 0; i < names.Count(); ++i)
        Load(names[i].Str());
}

const STextSection* STextDictionary::IsLoaded(const char* fileName) const
{
    if (!fileName)
        return nullptr;
    for (u32 i = 0; i < Files.Count(); ++i)
        if (Files[i].FileName == fileName)
            return &Files[i];
    return nullptr;
}

TString TextWithArg(const char* key, const char* arg)
{
    const TString& text = GTextDict.Get(key);
    TString out;
    for (u32 i = 0; i < text.Length(); ++i)
    {
        const char c = text.Str()[i];
        const char next = i + 1 < text.Length() ? text.Str()[i + 1] : 0;
        if (c == '%' && next == 's')
        {
            out += arg ? arg : "";
            ++i;
        }
        else if (c == '%' && next == '%')
        {
            out += '%';
            ++i;
        }
        else
            out += c;
    }
    return out;
}
