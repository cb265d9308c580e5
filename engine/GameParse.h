// Cursor-based text readers (a text and a position into it) for documents, fonts, parameter
// texts and the console, and the "#include" expansion of shader sources.
#pragma once

#include "GString.h"
#include "GMath.h"

// Set by a text reader that failed; every reader clears it first.
extern bool GParseError;

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
