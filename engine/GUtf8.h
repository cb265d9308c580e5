// Text as UTF-8: stepping over whole characters, decoding and encoding them. Bytes that are not
// well-formed UTF-8 (text from files and paths may hold any) count as one character each.
#pragma once

#include "GameSys.h"

// What a byte that starts no well-formed sequence stands for.
static const u32 UTF_REPLACEMENT = 0xFFFD;
// Most bytes one character takes.
static const u32 UTF_MAX_BYTES = 4;

// Decodes the character starting at text[at] (length bytes in all, at < length) into codePoint;
// returns its byte count: 1 to 4, and 1 with UTF_REPLACEMENT for a byte that starts no
// well-formed sequence (overlong forms, surrogates and code points past U+10FFFF included).
u32 UTF_Decode(const char* text, u32 length, u32 at, u32& codePoint);
// Writes the code point's bytes to out (room for UTF_MAX_BYTES); 0 for a surrogate or a value
// past U+10FFFF, which have none.
u32 UTF_Encode(u32 codePoint, char* out);
// The character boundary after the one at `at` (length at the end), and the one before it (0 at
// the start).
u32 UTF_Next(const char* text, u32 length, u32 at);
u32 UTF_Prev(const char* text, u32 length, u32 at);
// The last character boundary at or before `at`.
u32 UTF_Floor(const char* text, u32 length, u32 at);
