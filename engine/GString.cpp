#include "GString.h"

#include <stdio.h>

TString::TString() : heap(nullptr), capacity(0), count(0), text(inlineBuf)
{
    inlineBuf[0] = 0;
}

TString::TString(const char* s) : TString()
{
    Assign(s);
}

TString::TString(const char* s, u32 length) : TString()
{
    Assign(s, length);
}

void TString::Steal(TString& other)
{
    if (heap)
        MemFree(heap);
    heap = other.heap;
    capacity = other.capacity;
    count = other.count;
    text = heap;
    other.heap = nullptr;
    other.capacity = 0;
    other.count = 0;
    other.text = other.inlineBuf;
    other.inlineBuf[0] = 0;
}

TString::~TString()
{
    if (heap)
        MemFree(heap);
}

TString& TString::AssignFrom(const TString& other)
{
    if (this != &other)
        Assign(other.text, other.count);
    return *this;
}

TString& TString::operator=(TString&& other) noexcept
{
    if (this == &other)
        return *this;
    if (other.heap && (!heap || capacity <= other.capacity))
        Steal(other);
    else
        Assign(other.text, other.count);
    return *this;
}

TString& TString::operator=(const char* s)
{
    Assign(s);
    return *this;
}

bool TString::Owns(const char* p) const
{
    if (p >= inlineBuf && p < inlineBuf + INLINE_SIZE)
        return true;
    return heap && p >= heap && p < heap + capacity;
}

void TString::Assign(const char* s)
{
    if (!s)
    {
        SizeTo(0);
        return;
    }
    if (heap && s == heap)
        return;
    size_t n = gStrLen(s);
    if (BREAK_IF(n > 0xFFFFFFF0u))
        return;
    Assign(s, (u32)n);
}

void TString::Assign(const char* s, u32 length)
{
    if (Owns(s))
    {
        // A piece of our own buffer may move or be overwritten while we size: copy it out first.
        TString copy(s, length);
        Assign(copy.text, copy.count);
        return;
    }
    if (!SizeTo(length))
        return;
    gMemCpy(text, s, length);
}

bool TString::Reserve(u32 n)
{
    if (capacity >= n)
        return true;
    u64 grown = (u64)capacity * 2;
    u64 newCapacity = grown > n ? grown : n;
    if (newCapacity > 0xFFFFFFFFu)
        newCapacity = n;
    // A request below the current text (an inline string asked for a small block) still has
    // to hold the text and its terminator.
    if (newCapacity < (u64)count + 1)
        newCapacity = (u64)count + 1;
    char* block = (char*)MemAlloc((size_t)newCapacity);
    // The whole text with its terminator moves, so bytes after an embedded zero survive.
    if (count != 0)
        gMemCpy(block, text, (size_t)count + 1);
    else
        block[0] = 0;
    if (heap)
        MemFree(heap);
    heap = block;
    text = block;
    capacity = (u32)newCapacity;
    return true;
}

bool TString::SizeTo(u32 n)
{
    if (!heap && n < INLINE_SIZE)
        text = inlineBuf;
    else
    {
        if (BREAK_IF(n >= 0xFFFFFFFFu))
            return false;
        Reserve(n + 1);
    }
    text[n] = 0;
    count = n;
    return true;
}

void TString::SetLength(u32 n)
{
    SizeTo(n);
}

void TString::AppendGrowing(const char* s, u32 length)
{
    if (length == 0)
        return;
    u32 old = count;
    if (BREAK_IF((u64)old + length >= 0xFFFFFFFFu))
        return;
    if (Owns(s))
    {
        // The source may move when the buffer grows; keep a copy of it.
        TString copy(s, length);
        SizeTo(old + length);
        gMemCpy(text + old, copy.text, length);
    }
    else
    {
        SizeTo(old + length);
        gMemCpy(text + old, s, length);
    }
    text[count] = 0;
}

TString TString::operator+(const TString& other) const
{
    TString r(*this);
    r += other;
    return r;
}

TString TString::operator+(const char* s) const
{
    TString r(*this);
    r += s;
    return r;
}

void TString::Insert(u32 af, const TString& other)
{
    if (BREAK_IF(af > count))
        return;
    if (Owns(other.text))
    {
        TString copy(other);
        Insert(af, copy);
        return;
    }
    u32 old = count;
    u32 len = other.count;
    if (len == 0)
        return;
    if (BREAK_IF((u64)old + len >= 0xFFFFFFFFu))
        return;
    SizeTo(old + len);
    gMemMove(text + af + len, text + af, old - af);
    gMemCpy(text + af, other.text, len);
    text[count] = 0;
}

void TString::Insert(u32 af, char c)
{
    if (BREAK_IF(af > count))
        return;
    if (!heap && count == INLINE_SIZE - 1)
    {
        // A full inline buffer moves to the heap sized for 32 characters and the terminator.
        Reserve(INLINE_SIZE + 1);
    }
    else if (heap && count + 1 == capacity)
    {
        if (BREAK_IF(capacity > 0x7FFFFFFFu))
            return;
        Reserve(capacity * 2);
    }
    // The tail moves up one byte, terminator included.
    gMemMove(text + af + 1, text + af, count - af + 1);
    text[af] = c;
    ++count;
}

void TString::Remove(u32 from, u32 to)
{
    if (BREAK_IF(from >= count || to >= count || from > to))
        return;
    u32 removed = to - from + 1;
    gMemMove(text + from, text + to + 1, count - to); // tail with its terminator
    count -= removed;
    text[count] = 0;
}

void TString::Sub(int first, int last, TString& out) const
{
    // Negative indices count from the end; one still negative after that wraps to a huge
    // unsigned value, so an index below -count is caught like one past the end.
    u32 r0 = (u32)(first < 0 ? (s64)first + count : first);
    u32 r1 = (u32)(last < 0 ? (s64)last + count : last);
    // Both ends are checked (and reported) before either is refused.
    const bool badFirst = BREAK_IF(r0 >= count);
    const bool badLast = BREAK_IF(r1 >= count);
    if (badFirst || badLast)
    {
        out.SizeTo(0);
        return;
    }
    if (r1 < r0)
    {
        out.SizeTo(0);
        return;
    }
    // Assign copies a piece of its own text out first, so out may be this string.
    out.Assign(text + r0, r1 - r0 + 1);
}

int TString::FindLastOf(const char* set, int before) const
{
    if (!set || before <= 0)
        return -1;
    // A start beyond the text searches the whole text.
    u32 i = (u32)before < count ? (u32)before : count;
    while (i > 0)
    {
        --i;
        for (const char* s = set; *s; ++s)
            if (text[i] == *s)
                return (int)i;
    }
    return -1;
}

bool TString::Mid(u32 offset, u32 length, TString& out) const
{
    // Widened so that the sums cannot wrap.
    const u64 off = offset, size = length, count = this->count;
    if (BREAK_IF(off >= count + 1 || size >= count + 1 || off + size >= count + 1))
    {
        out.SizeTo(0);
        return false;
    }
    if (&out == this)
    {
        TString copy(text + offset, length);
        out = copy;
        return true;
    }
    out.Assign(text + offset, length);
    return true;
}

void TString::FormatV(u32 maxLen, const char* format, va_list args)
{
    if (BREAK_IF(maxLen >= 0xFFFFFFF0u))
        return;
    // Format into a scratch block first: the arguments may point into our own text.
    char* scratch = (char*)MemAlloc((size_t)maxLen + 1);
    int n = gVSNPrintf(scratch, (size_t)maxLen + 1, format, args);
    SizeTo(maxLen);
    gMemCpy(text, scratch, (size_t)n);
    MemFree(scratch);
    text[n] = 0;
    count = (u32)n;
}

void TString::Format(u32 maxLen, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatV(maxLen, format, args);
    va_end(args);
}

char* TString::At(u32 at)
{
    static char scratch[2];
    if (BREAK_IF(at >= count))
    {
        scratch[0] = scratch[1] = 0;
        return scratch;
    }
    return text + at;
}

const char* TString::At(u32 i) const
{
    return const_cast<TString*>(this)->At(i);
}

TString TString::ToLower() const
{
    TString r(*this);
    for (u32 i = 0; i < r.count; ++i)
        if (r.text[i] >= 'A' && r.text[i] <= 'Z')
            r.text[i] = (char)(r.text[i] - 'A' + 'a');
    return r;
}

bool TString::operator==(const TString& other) const
{
    return gStrEqual(text, other.text) != 0;
}

bool TString::operator==(const char* s) const
{
    return s && gStrEqual(text, s) != 0;
}

bool TString::operator<(const TString& other) const
{
    return gStrCmp(text, other.text) < 0;
}

// ---------------------------------------------------------------------------------------------
// Texts for display

TString DisplayText(const char* text)
{
    TString out;
    const size_t n = gSysDisplayText(nullptr, 0, text);
    if (n >= 0xFFFFFFFFu)
        return out;
    out.SetLength((u32)n);
    if (out.Length() == n)
        gSysDisplayText(out.Buffer(), n + 1, text);
    return out;
}

TString LogLineText(const char* text, u32 length)
{
    TString out;
    const size_t n = gSysLogLineText(nullptr, 0, text, length);
    if (n >= 0xFFFFFFFFu)
        return out;
    out.SetLength((u32)n);
    if (out.Length() == n)
        gSysLogLineText(out.Buffer(), n + 1, text, length);
    return out;
}
