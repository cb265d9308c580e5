// The portable half of the platform layer; the Linux half is GameSysLinux.cpp.
#include "GameSys.h"

#include <errno.h>
#include <float.h>
#include <math.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

// ---------------------------------------------------------------------------------------------
// Memory

void* MemAlloc(size_t size)
{
    // Round up so that aligned_alloc accepts the size; a zero request still yields a block.
    size_t rounded = (size + 15) & ~size_t(15);
    if (rounded < size)
        rounded = 0;
    void* p = rounded ? aligned_alloc(16, rounded) : nullptr;
    if (!p && size == 0)
        p = aligned_alloc(16, 16);
    if (!p)
        gSysFatalError("Failed to allocate data", "Critical error");
    return p;
}

void MemFree(void* p)
{
    free(p);
}

void* gMemCpy(void* dst, const void* src, size_t size)
{
    return size ? memcpy(dst, src, size) : dst;
}

void* gMemMove(void* dst, const void* src, size_t size)
{
    return size ? memmove(dst, src, size) : dst;
}

void* gMemSet(void* dst, int value, size_t size)
{
    return size ? memset(dst, value, size) : dst;
}

// ---------------------------------------------------------------------------------------------
// Byte strings

size_t gStrLen(const char* s)
{
    return strlen(s);
}

int gStrCmp(const char* a, const char* b)
{
    const unsigned char* x = (const unsigned char*)a;
    const unsigned char* y = (const unsigned char*)b;
    while (*x && *x == *y)
    {
        ++x;
        ++y;
    }
    if (*x == *y)
        return 0;
    return *x < *y ? -1 : 1;
}

int gStrEqual(const char* a, const char* b)
{
    return strcmp(a, b) == 0 ? 1 : 0;
}

char* gStrCpy(char* dst, const char* src)
{
    return strcpy(dst, src);
}

uint16_t* gWStrCpy(uint16_t* dst, const uint16_t* src)
{
    uint16_t* d = dst;
    while ((*d++ = *src++) != 0)
    {
    }
    return dst;
}

char* gStrNCpy(char* dst, size_t size, const char* src)
{
    if (size == 0)
        return dst;
    size_t n = 0;
    while (n + 1 < size && src[n])
    {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = 0;
    return dst;
}

char* gStrCat(char* dst, const char* src)
{
    return strcat(dst, src);
}

char* gStrNCpyC(char* dst, const char* src, size_t n)
{
    return strncpy(dst, src, n);
}

const char* gStrStr(const char* haystack, const char* needle)
{
    return strstr(haystack, needle);
}

int gVSNPrintf(char* buf, size_t size, const char* format, va_list args)
{
    if (size == 0)
        return 0;
    int n = vsnprintf(buf, size, format, args);
    if (n < 0)
    {
        buf[0] = 0;
        return 0;
    }
    if ((size_t)n >= size)
        n = (int)(size - 1);
    buf[n] = 0;
    return n;
}

int gSNPrintf(char* buf, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = gVSNPrintf(buf, size, format, args);
    va_end(args);
    return n;
}

// ---------------------------------------------------------------------------------------------
// Character predicates

int gIsUpper(int c)
{
    c &= 0xFF;
    return c >= 'A' && c <= 'Z';
}

int gIsLower(int c)
{
    c &= 0xFF;
    return c >= 'a' && c <= 'z';
}

int gIsDigit(int c)
{
    c &= 0xFF;
    return c >= '0' && c <= '9';
}

int gIsAlnum(int c)
{
    return gIsUpper(c) || gIsLower(c) || gIsDigit(c);
}

int gIsPrint(int c)
{
    c &= 0xFF;
    return c >= 32 && c != 127;
}

int gIsPunct(int c)
{
    c &= 0xFF;
    if (c < 32 || c == 127 || c == ' ')
        return 0;
    return !gIsAlnum(c);
}

// ---------------------------------------------------------------------------------------------
// Random numbers

static thread_local u32 GRandState = 1;

int gRand()
{
    GRandState = GRandState * 214013u + 2531011u;
    return (int)((GRandState >> 16) & 0x7FFF);
}

void gSRand(u32 seed)
{
    GRandState = seed;
}

// ---------------------------------------------------------------------------------------------
// Float math

float gAbs(float x) { return (float)fabs((double)x); }
int gAbsInt(int i) { return i < 0 ? (int)(0u - (unsigned)i) : i; }
float gSqrt(float x) { return (float)sqrt((double)x); }
float gFmod(float x, float y) { return (float)fmod((double)x, (double)y); }
float gPow(float x, float y) { return (float)pow((double)x, (double)y); }
float gSin(float x) { return (float)sin((double)x); }
float gCos(float x) { return (float)cos((double)x); }
float gTan(float x) { return (float)tan((double)x); }
float gAsin(float x) { return (float)asin((double)x); }
float gAcos(float x) { return (float)acos((double)x); }
float gAtan(float x) { return (float)atan((double)x); }
float gAtan2(float y, float x) { return (float)atan2((double)y, (double)x); }
float gFloor(float x) { return (float)floor((double)x); }
float gCeil(float x) { return (float)ceil((double)x); }
float gRound(float x) { return (float)nearbyint((double)x); }

float gSign(float x)
{
    if (x > 0.0f)
        return 1.0f;
    if (x == 0.0f)
        return 0.0f;
    return -1.0f; // negative and not-a-number
}

// ---------------------------------------------------------------------------------------------
// Byte order

u32 gSysHtonl(u32 v)
{
    const u8 b[4] = {(u8)(v >> 24), (u8)(v >> 16), (u8)(v >> 8), (u8)v};
    u32 r;
    memcpy(&r, b, 4);
    return r;
}

u16 gSysHtons(u16 v)
{
    const u8 b[2] = {(u8)(v >> 8), (u8)v};
    u16 r;
    memcpy(&r, b, 2);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Stdio wrappers

int gSysFileClose(FILE* f) { return fclose(f); }
size_t gSysFileRead(FILE* f, size_t size, void* buffer) { return fread(buffer, 1, size, f); }
size_t gSysFileWrite(FILE* f, size_t size, const void* buffer) { return fwrite(buffer, 1, size, f); }
char* gSysFileGets(FILE* f, char* buffer, int size) { return fgets(buffer, size, f); }
int gSysFilePuts(FILE* f, const char* text) { return fputs(text, f); }
long gSysFileTell(FILE* f) { return ftell(f); }
int gSysFileEOF(FILE* f) { return feof(f) ? 1 : 0; }

int gSysFileSeek(FILE* f, long offset, int relative)
{
    int r;
    if (relative)
        r = fseek(f, offset, SEEK_CUR);
    else if (offset >= 0)
        r = fseek(f, offset, SEEK_SET);
    else
        r = fseek(f, offset + 1, SEEK_END); // -1 is the end itself, -2 one byte before it
    return r == 0 ? 0 : -1;
}

// ---------------------------------------------------------------------------------------------
// Message boxes

static int GInteractive = -1;
static bool GInteractiveForced = false;
static TSysBoxHook GBoxHook = nullptr;
static const SSysBoxBackend* GBoxBackend = nullptr;

void gSysSetBoxBackend(const SSysBoxBackend* backend)
{
    GBoxBackend = backend;
    // A mode detected before the back-end came (a box raised during static initialisation) is
    // detected again with it; a mode the engine main forced stays.
    if (!GInteractiveForced)
        GInteractive = -1;
}

static bool DetectInteractive()
{
    const char* env = getenv("PLUMWEAVE_NONINTERACTIVE");
    if (env && strcmp(env, "1") == 0)
        return false;
    return GBoxBackend && GBoxBackend->CanWait && GBoxBackend->CanWait();
}

bool gSysIsInteractive()
{
    if (GInteractive < 0)
        GInteractive = DetectInteractive() ? 1 : 0;
    return GInteractive != 0;
}

bool gSysCanAsk()
{
    return GBoxHook || gSysIsInteractive();
}

void gSysSetInteractive(bool interactive)
{
    GInteractive = interactive ? 1 : 0;
    GInteractiveForced = true;
}

void gSysSetBoxHook(TSysBoxHook hook)
{
    GBoxHook = hook;
}

TSysBoxHook gSysGetBoxHook()
{
    return GBoxHook;
}

static void PrintBox(const char* text, const char* caption)
{
    fflush(stdout);
    fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
    fflush(stderr);
}

// A real box through the platform half; -1 when none could be shown (or may be).
static int ShowBox(ESysBoxKind kind, const char* text, const char* caption)
{
    if (!gSysIsInteractive() || !GBoxBackend || !GBoxBackend->Show)
        return -1;
    return GBoxBackend->Show(kind, text, caption);
}

// A box's text and caption as they can be shown (outside bytes escaped); no copy for clean texts,
// so that the allocation-failure box needs no allocation.
struct SShownBox
{
    char* TextCopy = nullptr;
    char* CaptionCopy = nullptr;
    const char* Text;
    const char* Caption;
    SShownBox(const char* text, const char* caption) : Text(text), Caption(caption)
    {
        Text = Escaped(text, TextCopy);
        Caption = Escaped(caption, CaptionCopy);
    }
    ~SShownBox()
    {
        free(TextCopy);
        free(CaptionCopy);
    }
    SShownBox(const SShownBox&) = delete;
    SShownBox& operator=(const SShownBox&) = delete;

private:
    static const char* Escaped(const char* text, char*& copy)
    {
        if (!text || gSysIsDisplayText(text))
            return text;
        const size_t n = gSysDisplayText(nullptr, 0, text) + 1;
        copy = (char*)malloc(n);
        if (!copy)
            return "(a text that cannot be shown)";
        gSysDisplayText(copy, n, text);
        return copy;
    }
};

bool gSysQuestion(const char* text, const char* caption)
{
    const SShownBox shown(text, caption);
    text = shown.Text;
    caption = shown.Caption;
    if (GBoxHook)
        return GBoxHook(SYSBOX_Question, text, caption) != 0;
    int r = ShowBox(SYSBOX_Question, text, caption);
    if (r >= 0)
        return r == SYS_IDYES;
    PrintBox(text, caption);
    return false;
}

int gSysMessage(const char* text, const char* caption)
{
    const SShownBox shown(text, caption);
    text = shown.Text;
    caption = shown.Caption;
    if (GBoxHook)
        return GBoxHook(SYSBOX_Message, text, caption);
    if (ShowBox(SYSBOX_Message, text, caption) < 0)
        PrintBox(text, caption);
    return SYS_IDOK;
}

void gSysFatalExit(u32 code)
{
    fflush(stdout);
    fflush(stderr);
    _exit((int)code);
}

void gSysFatalError(const char* text, const char* caption)
{
    const SShownBox shown(text, caption);
    text = shown.Text;
    caption = shown.Caption;
    if (GBoxHook)
        GBoxHook(SYSBOX_FatalError, text, caption);
    else if (ShowBox(SYSBOX_FatalError, text, caption) < 0)
        PrintBox(text, caption);
    gSysFatalExit(SYS_FATAL_EXIT_CODE);
}

// ---------------------------------------------------------------------------------------------
// Texts for display

u32 gSysUtf8Length(const char* text, size_t room)
{
    const unsigned char* p = (const unsigned char*)text;
    if (room == 0)
        return 0;
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    // The second byte's range, narrowed after the lead bytes that would allow overlong forms,
    // surrogates or code points beyond U+10FFFF.
    unsigned char lo = 0x80, hi = 0xBF;
    u32 n;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF)
    {
        n = 3;
        if (c == 0xE0)
            lo = 0xA0;
        else if (c == 0xED)
            hi = 0x9F;
    }
    else if (c >= 0xF0 && c <= 0xF4)
    {
        n = 4;
        if (c == 0xF0)
            lo = 0x90;
        else if (c == 0xF4)
            hi = 0x8F;
    }
    else
        return 0;
    if (room < n || p[1] < lo || p[1] > hi)
        return 0;
    for (u32 i = 2; i < n; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return n;
}


namespace
{
// A character below 0x20 other than tab and line end, and DEL, count as not shown; the rest is
// shown where it is well-formed UTF-8. Returns the bytes shown at p (1 to 4), or 0.
u32 ShownSequence(const unsigned char* p, size_t room)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return (c >= 0x20 && c != 0x7F) || c == '\t' || c == '\n' ? 1 : 0;
    return gSysUtf8Length((const char*)p, room);
}

const u32 ESCAPE_LENGTH = 4; // "\xNN"
} // namespace

bool gSysIsDisplayText(const char* text)
{
    const unsigned char* p = (const unsigned char*)(text ? text : "");
    while (*p)
    {
        const u32 n = ShownSequence(p, strlen((const char*)p));
        if (!n)
            return false;
        p += n;
    }
    return true;
}

namespace
{
// The escape of a byte that lone-line text must not hold as it is: a named one for line ends,
// tabs and the backslash, else none (the byte goes as "\xNN").
const char* NamedEscape(unsigned char c)
{
    switch (c)
    {
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    case '\\': return "\\\\";
    default: return nullptr;
    }
}

size_t EscapeText(char* out, size_t size, const unsigned char* p, size_t count, bool oneLine)
{
    static const char HEX[] = "0123456789ABCDEF";
    const unsigned char* end = p + count;
    size_t length = 0;
    const auto put = [&](const char* bytes, u32 n) {
        for (u32 i = 0; i < n; ++i, ++length)
            if (out && length + 1 < size)
                out[length] = bytes[i];
    };
    while (p < end)
    {
        const char* named = oneLine ? NamedEscape(*p) : nullptr;
        if (named)
        {
            put(named, 2);
            ++p;
            continue;
        }
        u32 n = *p ? ShownSequence(p, (size_t)(end - p)) : 0;
        // C1 controls (U+0080 to U+009F) are terminal commands too.
        if (oneLine && n == 2 && p[0] == 0xC2 && p[1] < 0xA0)
            n = 0;
        if (n)
        {
            put((const char*)p, n);
            p += n;
            continue;
        }
        const char escaped[ESCAPE_LENGTH] = {'\\', 'x', HEX[*p >> 4], HEX[*p & 15]};
        put(escaped, ESCAPE_LENGTH);
        ++p;
    }
    if (out && size > 0)
        out[length < size ? length : size - 1] = 0;
    return length;
}
} // namespace

size_t gSysDisplayText(char* out, size_t size, const char* text)
{
    const char* t = text ? text : "";
    return EscapeText(out, size, (const unsigned char*)t, strlen(t), false);
}

size_t gSysLogLineText(char* out, size_t size, const char* text, size_t count)
{
    return EscapeText(out, size, (const unsigned char*)(text ? text : ""), text ? count : 0, true);
}

// ---------------------------------------------------------------------------------------------
// Text to number

int StrToInt(const char* text)
{
    const char* p = text;
    while (*p == ' ')
        ++p;
    bool negative = false;
    if (*p == '-')
    {
        negative = true;
        ++p;
    }
    s64 value = 0;
    while (gIsDigit(*p))
    {
        // Past the int range the value only needs to stay clamped.
        if (value <= (s64)INT32_MAX + 1)
            value = value * 10 + (*p - '0');
        ++p;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return (int)value;
}

// Digits are gathered into an exact integer and scaled once by a power of ten, so that every
// text "%g" writes reads back to the float that the C library would make of it.
float StrToFloat(const char* text)
{
    const char* p = text;
    while (*p == ' ')
        ++p;
    bool negative = false;
    if (*p == '-')
    {
        negative = true;
        ++p;
    }
    // Older saves wrote overflowed values as "inf": they mean the end of the range. An undefined
    // value ("nan") is 0.
    if (strncasecmp(p, "inf", 3) == 0)
        return negative ? -FLT_MAX : FLT_MAX;
    if (strncasecmp(p, "nan", 3) == 0)
        return 0.0f;
    u64 mantissa = 0;
    int digits = 0;     // significant digits kept in the mantissa
    int scale = 0;      // power of ten applied to the mantissa
    while (gIsDigit(*p))
    {
        if (digits < 19)
        {
            mantissa = mantissa * 10 + (u64)(*p - '0');
            if (mantissa)
                ++digits;
        }
        else
            ++scale;
        ++p;
    }
    if (*p == '.' || *p == ',')
    {
        ++p;
        while (gIsDigit(*p))
        {
            if (digits < 19)
            {
                mantissa = mantissa * 10 + (u64)(*p - '0');
                if (mantissa)
                    ++digits;
                --scale;
            }
            ++p;
        }
    }
    if (*p == 'e' || *p == 'E')
    {
        const char* q = p + 1;
        bool expNegative = false;
        if (*q == '+' || *q == '-')
        {
            expNegative = *q == '-';
            ++q;
        }
        if (gIsDigit(*q))
        {
            int exponent = 0;
            while (gIsDigit(*q))
            {
                if (exponent < 100000)
                    exponent = exponent * 10 + (*q - '0');
                ++q;
            }
            scale += expNegative ? -exponent : exponent;
        }
    }
    long double value = (long double)mantissa;
    if (mantissa != 0 && scale != 0)
    {
        if (scale > 400)
            value = HUGE_VALL;
        else if (scale < -400)
            value = 0.0L;
        else if (scale > 0)
            value *= powl(10.0L, (long double)scale);
        else
            value /= powl(10.0L, (long double)-scale);
    }
    // Beyond the float range the largest finite float of the sign stands in: an infinity would
    // be written out as a text that no reader takes back.
    float result = value > (long double)FLT_MAX ? FLT_MAX : (float)value;
    return negative ? -result : result;
}

// ---------------------------------------------------------------------------------------------
// Assertions and fatal errors

const char* gSysBaseName(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            name = p + 1;
    return name;
}

void AssertBreak(const char* expression, const char* file, int line)
{
    char text[2048];
    gSNPrintf(text, sizeof(text),
              "It is detected that the program is in invalid state:\n%s\n\nFile: %s\nLine: %d\n\nDo you want to "
              "debug the program?",
              expression, file, line);
    if (GBoxHook)
    {
        if (GBoxHook(SYSBOX_Assert, text, "BREAK_IF"))
            raise(SIGTRAP);
        return;
    }
    if (gSysQuestion(text, "BREAK_IF"))
        raise(SIGTRAP);
}

static volatile sig_atomic_t GInFatalError = 0;

void FatalError(const char* format, ...)
{
    // A fatal error raised while reporting one ends at once rather than recursing.
    if (GInFatalError)
        gSysFatalExit(SYS_FATAL_EXIT_CODE);
    GInFatalError = 1;

    static char text[16384];
    va_list args;
    va_start(args, format);
    gVSNPrintf(text, sizeof(text), format, args);
    va_end(args);

    fputs(text, stdout);
    fflush(stdout);
    FILE* log = fopen("error.log", "a");
    if (log)
    {
        fputs(text, log);
        fclose(log);
    }
    gSysFatalError(text, "Error!");
}

void LogPrintf(const char* format, ...)
{
    char text[16384];
    va_list args;
    va_start(args, format);
    gVSNPrintf(text, sizeof(text), format, args);
    va_end(args);
    fputs(text, stdout);
}
