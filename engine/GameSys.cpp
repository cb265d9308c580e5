#include "GameSys.h"

#include <SDL2/SDL.h>
#include <errno.h>
#include <float.h>
#include <math.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/wait.h>
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
static TSysBoxHook GBoxHook = nullptr;

// The raw command line, read from the process itself so that the mode is known before the
// engine main has parsed anything.
static bool CommandLineHasBatchFlag()
{
    FILE* f = fopen("/proc/self/cmdline", "rb");
    if (!f)
        return false;
    char buf[8192];
    size_t n = fread(buf, 1, sizeof(buf) - 1, f);
    fclose(f);
    buf[n] = 0;
    size_t i = 0;
    while (i < n)
    {
        const char* arg = buf + i;
        if (strcmp(arg, "-opc") == 0 || strcmp(arg, "-listen") == 0)
            return true;
        i += strlen(arg) + 1;
    }
    return false;
}

static bool DetectInteractive()
{
    const char* env = getenv("PLUMWEAVE_NONINTERACTIVE");
    if (env && strcmp(env, "1") == 0)
        return false;
    const char* display = getenv("DISPLAY");
    if (!display || !display[0])
        return false;
    return !CommandLineHasBatchFlag();
}

bool gSysIsInteractive()
{
    if (GInteractive < 0)
        GInteractive = DetectInteractive() ? 1 : 0;
    return GInteractive != 0;
}

void gSysSetInteractive(bool interactive)
{
    GInteractive = interactive ? 1 : 0;
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

// Shows a real box with the given buttons; returns the pressed button id or -1 when no box could be shown.
static int ShowSdlBox(u32 flags, const char* text, const char* caption, bool yesNo)
{
    SDL_MessageBoxButtonData buttons[2];
    int count = 0;
    if (yesNo)
    {
        buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, SYS_IDYES, "Yes"};
        buttons[1] = {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, SYS_IDNO, "No"};
        count = 2;
    }
    else
    {
        buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, SYS_IDOK,
                      "OK"};
        count = 1;
    }
    SDL_MessageBoxData data = {};
    data.flags = flags;
    data.window = nullptr;
    data.title = caption ? caption : "";
    data.message = text ? text : "";
    data.numbuttons = count;
    data.buttons = buttons;
    int pressed = -1;
    if (SDL_ShowMessageBox(&data, &pressed) != 0)
        return -1;
    return pressed;
}

bool gSysQuestion(const char* text, const char* caption)
{
    if (GBoxHook)
        return GBoxHook(SYSBOX_Question, text, caption) != 0;
    if (gSysIsInteractive())
    {
        int r = ShowSdlBox(SDL_MESSAGEBOX_WARNING, text, caption, true);
        if (r >= 0)
            return r == SYS_IDYES;
    }
    PrintBox(text, caption);
    return false;
}

int gSysMessage(const char* text, const char* caption)
{
    if (GBoxHook)
        return GBoxHook(SYSBOX_Message, text, caption);
    if (gSysIsInteractive())
    {
        int r = ShowSdlBox(SDL_MESSAGEBOX_INFORMATION, text, caption, false);
        if (r >= 0)
            return SYS_IDOK;
    }
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
    if (GBoxHook)
        GBoxHook(SYSBOX_FatalError, text, caption);
    else if (!gSysIsInteractive() || ShowSdlBox(SDL_MESSAGEBOX_ERROR, text, caption, false) < 0)
        PrintBox(text, caption);
    gSysFatalExit(SYS_FATAL_EXIT_CODE);
}

// ---------------------------------------------------------------------------------------------
// File dialog over zenity

// Turns a classic filter list ("Description\0*.a;*.b\0...\0\0") into zenity's "--file-filter" options.
static int FilterToZenity(const char* filter, char storage[][512], int maxFilters)
{
    int n = 0;
    if (!filter)
        return 0;
    const char* p = filter;
    while (*p && n < maxFilters)
    {
        const char* desc = p;
        p += strlen(p) + 1;
        if (!*p)
            break;
        const char* patterns = p;
        p += strlen(p) + 1;
        char spaced[400];
        size_t k = 0;
        for (const char* q = patterns; *q && k + 1 < sizeof(spaced); ++q)
            spaced[k++] = *q == ';' ? ' ' : *q;
        spaced[k] = 0;
        gSNPrintf(storage[n], 512, "--file-filter=%s | %s", desc, spaced);
        ++n;
    }
    return n;
}

int gSysFileOpen(const char* initialFolder, const char* filter, char* fileBuffer, size_t bufferSize, int save)
{
    if (!fileBuffer || bufferSize == 0)
        return 0;
    if (GBoxHook)
        return GBoxHook(SYSBOX_FileDialog, initialFolder ? initialFolder : "", save ? "Save" : "Open") ? 1 : 0;
    if (!gSysIsInteractive())
    {
        fprintf(stderr, "File dialog cancelled: not interactive\n");
        return 0;
    }

    char filters[16][512];
    int filterCount = FilterToZenity(filter, filters, 16);
    char start[4096];
    start[0] = 0;
    if (initialFolder && initialFolder[0])
    {
        size_t len = strlen(initialFolder);
        gSNPrintf(start, sizeof(start), "--filename=%s%s", initialFolder,
                  initialFolder[len - 1] == '/' ? "" : "/");
    }

    const char* argv[24];
    int argc = 0;
    argv[argc++] = "zenity";
    argv[argc++] = "--file-selection";
    if (save)
    {
        argv[argc++] = "--save";
        argv[argc++] = "--confirm-overwrite";
    }
    if (start[0])
        argv[argc++] = start;
    for (int i = 0; i < filterCount; ++i)
        argv[argc++] = filters[i];
    argv[argc] = nullptr;

    int fds[2];
    if (pipe(fds) != 0)
    {
        fprintf(stderr, "File dialog cancelled: %s\n", strerror(errno));
        return 0;
    }
    fflush(stdout);
    pid_t pid = fork();
    if (pid < 0)
    {
        fprintf(stderr, "File dialog cancelled: %s\n", strerror(errno));
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    if (pid == 0)
    {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execvp("zenity", (char* const*)argv);
        _exit(127);
    }
    close(fds[1]);
    char result[8192];
    size_t got = 0;
    for (;;)
    {
        ssize_t r = read(fds[0], result + got, sizeof(result) - 1 - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        got += (size_t)r;
        if (got >= sizeof(result) - 1)
            break;
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    result[got] = 0;
    while (got > 0 && (result[got - 1] == '\n' || result[got - 1] == '\r'))
        result[--got] = 0;

    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127)
    {
        fprintf(stderr, "File dialog cancelled: zenity could not be run\n");
        return 0;
    }
    if (WEXITSTATUS(status) != 0 || got == 0)
        return 0; // the user cancelled
    if (got + 1 > bufferSize)
    {
        fprintf(stderr, "File dialog cancelled: the chosen path is longer than %zu bytes\n", bufferSize - 1);
        return 0;
    }
    memcpy(fileBuffer, result, got + 1);
    return 1;
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
    // Older saves wrote overflowed values as "inf": they mean the end of the range.
    if (strncasecmp(p, "inf", 3) == 0)
        return negative ? -FLT_MAX : FLT_MAX;
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
