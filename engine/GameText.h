// The text dictionary: user-interface texts looked up by key, so that a language is a folder of
// text files. Keys written between two '$' characters in a text are replaced by their texts.
#pragma once

#include "GTemplate.h"

// One loaded file.
struct STextSection
{
    TMap<TString, TString> Entries;
    TString FileName; // as given to Load, without the folder
};

class STextDictionary
{
public:
    TString Folder;  // the language folder that file names are appended to
    TString Default; // returned for keys no loaded file has
    TArray<STextSection> Files; // in load order

    // Loads Folder + fileName unless a file of that name is loaded already. A file that cannot be
    // read asks whether to retry; declining adds nothing. False when nothing could be read.
    bool Load(const char* fileName);
    // The value from the most recently loaded file that has the key, else Default.
    const TString& Get(const char* key) const;
    // The same search; out is untouched when the key is unknown.
    bool Find(const char* key, TString& out) const;
    // Replaces every known "$KEY$" in place; unknown keys stay as they are.
    void Expand(TString& text) const;
    // Switches to another folder and loads the same file names again from it, in the same order.
    void SetLanguage(const char* folder);
    const STextSection* IsLoaded(const char* fileName) const;
};

// Parses dictionary text into a section's entries. Returns the number of entries read.
u32 TEXT_ParseEntries(const TString& text, TMap<TString, TString>& entries);

extern STextDictionary GTextDict;

// A text of GTextDict with its "%s" replaced by arg and "%%" by "%"; no other conversion is read.
TString TextWithArg(const char* key, const char* arg);
