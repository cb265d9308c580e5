// TString: the engine's one string type. Short texts live in an inline buffer; once a text
// outgrows it, it moves to a heap buffer from MemAlloc and never moves back.
#pragma once

#include <string.h>

#include "GameSys.h"

class TString
{
public:
    enum { INLINE_SIZE = 32 };

    char* heap;       // heap buffer, or null while the text never left the inline buffer
    u32 capacity;     // bytes of the heap buffer, terminator included; 0 without one
    u32 count;        // length in bytes, terminator excluded
    char inlineBuf[INLINE_SIZE];
    char* text;       // inlineBuf or heap; always terminated at count

    TString();
    TString(const char* s);
    TString(const char* s, u32 length);
    TString(const TString& other) : heap(nullptr), capacity(0), count(0), text(inlineBuf)
    {
        // Short texts copy straight into the inline buffer, terminator (and any zeros) included.
        if (other.count < INLINE_SIZE)
        {
            memcpy(inlineBuf, other.text, (size_t)other.count + 1);
            count = other.count;
        }
        else
            Assign(other.text, other.count);
    }
    // Takes other's heap buffer; a short text is copied from its inline buffer. Inline here, since
    // arrays move every element when they grow.
    TString(TString&& other) noexcept : heap(nullptr), capacity(0), count(0), text(inlineBuf)
    {
        if (other.heap)
            Steal(other);
        else
        {
            memcpy(inlineBuf, other.text, (size_t)other.count + 1);
            count = other.count;
        }
    }
    ~TString();

    TString& operator=(const TString& other)
    {
        // A text that fits the current buffer is copied in place (another string's text never
        // lies in ours); anything else takes the general path.
        if (this != &other && other.count < (heap ? capacity : (u32)INLINE_SIZE))
        {
            memcpy(text, other.text, (size_t)other.count + 1);
            count = other.count;
            return *this;
        }
        return AssignFrom(other);
    }
    TString& operator=(TString&& other) noexcept;
    TString& operator=(const char* s);

    // As construction from a text, into this object. A no-op for the string's own heap buffer.
    void Assign(const char* s);
    void Assign(const char* s, u32 length);

    // Sets the length without touching the bytes before it (to size a buffer before writing into it).
    void SetLength(u32 n);
    // Makes the heap buffer hold at least n bytes: exactly n the first time, then at least double.
    bool Reserve(u32 n);

    TString& operator+=(const TString& other)
    {
        Append(other.text, other.count);
        return *this;
    }
    TString& operator+=(const char* s)
    {
        if (s)
            Append(s, (u32)strlen(s));
        return *this;
    }
    TString& operator+=(char c)
    {
        Append(&c, 1);
        return *this;
    }
    TString operator+(const TString& other) const;
    TString operator+(const char* s) const;
    // Appends length bytes (which may lie inside this string).
    void Append(const char* s, u32 length)
    {
        // Room in the current buffer: nothing moves, so the source stays valid even when it is
        // a piece of this string.
        if ((u64)count + length < (heap ? capacity : (u32)INLINE_SIZE))
        {
            memmove(text + count, s, length);
            count += length;
            text[count] = 0;
        }
        else
            AppendGrowing(s, length);
    }

    // Inserts before position af (af = count appends).
    void Insert(u32 af, const TString& other);
    void Insert(u32 af, char c);
    // Removes the characters from..to inclusive.
    void Remove(u32 from, u32 to);
    // Characters r0..r1 inclusive into out; negative indices count from the end.
    void Sub(int first, int last, TString& out) const;
    // Largest index below `before` whose character is in set; -1 when none or before <= 0.
    int FindLastOf(const char* set, int before) const;
    // size characters from off into out; a range that leaves the text gives an empty out.
    bool Mid(u32 off, u32 size, TString& out) const;
    // printf-style, at most maxLen characters.
    void Format(u32 maxLen, const char* format, ...) PW_PRINTF(3, 4);
    void FormatV(u32 maxLen, const char* format, va_list args);

    char* At(u32 at);
    const char* At(u32 at) const;
    TString ToLower() const;

    const char* Str() const { return text; }
    // The text's bytes for writing in place (Length() of them, after SetLength, say).
    char* Buffer() { return text; }
    operator const char*() const { return text; }
    u32 Length() const { return count; }
    bool IsEmpty() const { return count == 0; }

    bool operator==(const TString& other) const;
    bool operator==(const char* s) const;
    bool operator!=(const TString& other) const { return !(*this == other); }
    bool operator!=(const char* s) const { return !(*this == s); }
    bool operator<(const TString& other) const;

private:
    // Sizes the string to a new length n: keeps the old bytes, terminates at n, count = n.
    bool SizeTo(u32 n);
    void AppendGrowing(const char* s, u32 length);
    TString& AssignFrom(const TString& other);
    // Takes other's heap buffer (which it must have), freeing ours; other is left empty.
    void Steal(TString& other);
    bool Owns(const char* p) const;
};

// gSysDisplayText as a string: outside bytes escaped for a box, a title or the console.
TString DisplayText(const char* text);
// gSysLogLineText as a string.
TString LogLineText(const char* text, u32 length);
