// The engine's file layer: opening by engine mode flags with relative names resolved against
// the data root, whole-file reads and safe whole-file writes, existence and modification
// times, path functions, a sorted directory listing, the file dialog, the cursor-based text
// readers and the "#include" expansion of shader sources.
#pragma once

#include "GameSys.h"
#include "GString.h"
#include "GTemplate.h"
#include "GMath.h"

// The data root that relative names are resolved against (ends with '/'); the engine main
// sets it at start-up.
extern TString GBaseFolder;
// Set by a text reader that failed; every reader clears it first.
extern bool GParseError;
// When set, FileOpenDialog returns paths relative to GBaseFolder where it can.
extern bool GDialogRelativePaths;

// Engine file mode flags.
enum
{
    FILE_Read = 1,
    FILE_Write = 2,
    FILE_Binary = 4,
};

// ---------------------------------------------------------------------------------------------
// Files

// Opens by engine mode flags (null for flags with neither read nor write). Only regular files
// are opened, and never by waiting (a pipe without a writer, say, fails at once).
FILE* gSysFOpen(const char* name, int flags);
// Whole text file, with CR LF line ends turned into LF. false when it cannot be read whole.
bool ReadTextFile(const char* name, TString& out);
// Writes through a temporary file renamed over the target only when every byte got there.
bool WriteTextFile(const char* name, const TString& text);
bool ReadArrayFromBinaryFile(const char* name, TPodArray<u8>& bytes);
bool WriteArrayToBinaryFile(const char* name, const TPodArray<u8>& bytes);
// A readable regular file.
bool FileExists(const char* name);
// Last-write time in seconds since 1970-01-01 UTC; 0 when unknown.
u64 FileModifiedTime(const char* name);

// ---------------------------------------------------------------------------------------------
// Paths. Names may use '\' as well as '/'; what reaches the system uses '/'.

// Absolute names (a leading separator) are kept; others are prefixed with GBaseFolder.
TString MakeFullPath(const TString& name);
TString AddTrailingSlash(const TString& folder);
TString ExtractFileName(const TString& path);
TString ExtractFilePath(const TString& path);
TString QuoteString(const TString& text);
TString StripQuotes(const TString& text);
// file relative to folder, by whole path components ("../textures/a.png"); empty when file is
// empty or names no file.
TString MakeRelativePath(const TString& file, const TString& folder);

// ---------------------------------------------------------------------------------------------
// Directory listing: every entry of a folder (including "." and ".."), sorted by name so that
// results do not depend on the file system's order.
class SFileFind
{
public:
    explicit SFileFind(const char* folder);
    ~SFileFind();

    bool IsValid() const { return Valid; }
    // The current entry's name; empty when not valid.
    TString GetName() const;
    // Steps to the next entry; false at the end.
    bool Next();

private:
    SFileFind(const SFileFind&) = delete;
    SFileFind& operator=(const SFileFind&) = delete;

    bool Valid;
    TArray<TString> Names;
    u32 Current;
};

// ---------------------------------------------------------------------------------------------
// File dialog: non-zero when a file was chosen (out receives it; relative to GBaseFolder when
// GDialogRelativePaths is set and that is possible), 0 when cancelled.
int FileOpenDialog(const char* initialFolder, const char* filter, TString& out, int save);

// ---------------------------------------------------------------------------------------------
// Text readers over a cursor (a text and a position into it). Each clears GParseError first
// and sets it when it fails; none reads outside the text.

typedef bool (*TCharPred)(char c);

bool IsWordChar(char c);   // ASCII letter, digit or '_'
bool IsTokenChar(char c);  // any printable non-blank character
bool IsWhiteSpace(char c); // blank, tab, line feed, carriage return
bool IsBlank(char c);      // blank or tab
bool IsIntChar(char c);    // digit or '-'

bool ParseFailed();

// Skips characters that skipPred accepts, then collects those that tokenPred accepts.
bool ParseToken(const TString& text, s32& pos, TString& out, TCharPred tokenPred, TCharPred skipPred);
// On failure: 2147483647.
s32 ParseInt(const TString& text, s32& pos);
// Reads "-1.5", "3,25", "1.5e+06", "1e-005". On failure: 3.4028235e38.
float ParseFloat(const TString& text, s32& pos);
// Components separated by ';'. On failure every component is 0.
bool ParseVec2(const TString& text, s32& pos, float* out);
bool ParseVec3(const TString& text, s32& pos, float* out);
bool ParseVec4(const TString& text, s32& pos, float* out);
bool ParseVec2(const TString& text, s32& pos, mVec2& out);
bool ParseVec3(const TString& text, s32& pos, mVec3& out);
bool ParseVec4(const TString& text, s32& pos, mVec4& out);
// From the next double quote to the next one that follows an even number of backslashes; the
// text between them, escapes kept as written.
TString ParseQuotedString(const TString& text, s32& pos);
bool ParseExpectChar(const TString& text, s32& pos, char c);
bool ParseSkipLine(const TString& text, s32& pos);
bool ParsePrevLine(const TString& text, s32& pos);
bool ParseSkipWhile(const TString& text, s32& pos, TCharPred pred);

// ---------------------------------------------------------------------------------------------
// Reads a text file and replaces every line whose first token is "#include" by the expanded
// text of the quoted file it names (relative to the including file's folder). false when any
// file cannot be read, includes nest too deep, or a file includes itself.
bool LoadTextWithIncludes(const char* name, TString& out);
