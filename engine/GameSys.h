// Platform layer: allocation, byte strings, character classes, random numbers,
// float math, stdio wrappers, message boxes, assertions and fatal errors.
// Everything else reaches the operating system and the user through here.
// Two halves behind this one header: the portable functions (GameSys.cpp), which need no
// window system, and the Linux ones (GameSysLinux.cpp: real boxes, the file dialog, the
// process's command line, the display check, the timer and sleeping).
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdarg.h>

#if defined(__GNUC__)
#define PW_PRINTF(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))
#else
#define PW_PRINTF(fmtIndex, firstArg)
#endif

typedef uint8_t  u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef int32_t  s32;
typedef uint64_t u64;
typedef int64_t  s64;

// Exit code of every fatal stop.
static const u32 SYS_FATAL_EXIT_CODE = 0xBADDC0DEu;

// Message-box styles (the classic values, kept so callers may pass them on).
enum
{
    SYS_MB_ERROR = 16,
    SYS_MB_QUESTION = 36,
    SYS_MB_INFORMATION = 64,
};

// Box results.
enum
{
    SYS_IDOK = 1,
    SYS_IDYES = 6,
    SYS_IDNO = 7,
};

// ---------------------------------------------------------------------------------------------
// Memory
void* MemAlloc(size_t size);
void MemFree(void* p);
void* gMemCpy(void* dst, const void* src, size_t size);
void* gMemMove(void* dst, const void* src, size_t size);
void* gMemSet(void* dst, int value, size_t size);

// ---------------------------------------------------------------------------------------------
// Byte strings
size_t gStrLen(const char* s);
int gStrCmp(const char* a, const char* b);
int gStrEqual(const char* a, const char* b);
char* gStrCpy(char* dst, const char* src);
uint16_t* gWStrCpy(uint16_t* dst, const uint16_t* src);
char* gStrNCpy(char* dst, size_t size, const char* src);
char* gStrCat(char* dst, const char* src);
char* gStrNCpyC(char* dst, const char* src, size_t n); // the C strncpy
const char* gStrStr(const char* haystack, const char* needle);
// Bounded formatting. Unlike the C function it always terminates the buffer (when size > 0).
// Returns the number of characters stored (never above size - 1).
int gVSNPrintf(char* buf, size_t size, const char* format, va_list args);
int gSNPrintf(char* buf, size_t size, const char* format, ...) PW_PRINTF(3, 4);

// ---------------------------------------------------------------------------------------------
// Character predicates (the byte is taken as unsigned; 128-255 are never letters or digits)
int gIsPrint(int c);
int gIsUpper(int c);
int gIsLower(int c);
int gIsDigit(int c);
int gIsAlnum(int c);
int gIsPunct(int c);

// ---------------------------------------------------------------------------------------------
// Random numbers: a per-thread linear congruential sequence that node processing relies on.
int gRand();
void gSRand(u32 seed);

// ---------------------------------------------------------------------------------------------
// Float math (single precision in and out, computed in double, radians)
float gAbs(float x);
int gAbsInt(int i);
float gSqrt(float x);
float gFmod(float x, float y);
float gPow(float x, float y);
float gSin(float x);
float gCos(float x);
float gTan(float x);
float gAsin(float x);
float gAcos(float x);
float gAtan(float x);
float gAtan2(float y, float x);
float gFloor(float x);
float gCeil(float x);
float gRound(float x);
float gSign(float x);

// ---------------------------------------------------------------------------------------------
// Byte order
u32 gSysHtonl(u32 v);
u16 gSysHtons(u16 v);

// ---------------------------------------------------------------------------------------------
// Stdio wrappers
int gSysFileClose(FILE* f);
size_t gSysFileRead(FILE* f, size_t size, void* buffer);
size_t gSysFileWrite(FILE* f, size_t size, const void* buffer);
char* gSysFileGets(FILE* f, char* buffer, int size);
int gSysFilePuts(FILE* f, const char* text);
long gSysFileTell(FILE* f);
int gSysFileEOF(FILE* f);
// relative: from the current position; else offset >= 0 from the start, else from the end by (-offset - 1).
int gSysFileSeek(FILE* f, long offset, int relative);

// ---------------------------------------------------------------------------------------------
// Message boxes. Interactive runs show real boxes; non-interactive runs (no display, "-opc" or
// "-listen" on the command line, or PLUMWEAVE_NONINTERACTIVE=1) print and answer by themselves.
bool gSysQuestion(const char* text, const char* caption);
int gSysMessage(const char* text, const char* caption);
[[noreturn]] void gSysFatalError(const char* text, const char* caption);
[[noreturn]] void gSysFatalExit(u32 code);

// Whether boxes and dialogs may wait for a person.
bool gSysIsInteractive();
// Whether a question reaches someone who answers it: a person, or the hook standing in for one.
bool gSysCanAsk();

// Texts from outside bytes (file contents, paths) on their way to a box, a window title or the
// console: every byte that is not part of well-formed UTF-8, and every control character but tab
// and line end, becomes "\xNN" (two upper-case hex digits); the rest stays as it is. Writes at most
// size - 1 bytes and a terminator into out (when size > 0); returns the full length.
size_t gSysDisplayText(char* out, size_t size, const char* text);
// As gSysDisplayText, for count bytes that others sent (zero bytes among them) on their way to one
// line of a log: line ends and tabs become "\n", "\r" and "\t", a backslash "\\", and the C1
// controls (U+0080 to U+009F) are escaped byte by byte, so that no text passes for a line of its
// own or for a command to the terminal.
size_t gSysLogLineText(char* out, size_t size, const char* text, size_t count);
// Bytes of the well-formed UTF-8 sequence that starts text and ends within room bytes (1 to 4), or
// 0: overlong forms, surrogates and code points past U+10FFFF are not well-formed.
u32 gSysUtf8Length(const char* text, size_t room);
// Whether gSysDisplayText would leave the text as it is.
bool gSysIsDisplayText(const char* text);
// Forces the mode (the engine main decides it from the command line before anything else starts).
void gSysSetInteractive(bool interactive);

// Kinds of boxes reported to the hook.
enum ESysBoxKind
{
    SYSBOX_Question,
    SYSBOX_Message,
    SYSBOX_FatalError,
    SYSBOX_Assert,
    SYSBOX_FileDialog,
};
// A hook that sees every box before it is shown and answers it: for questions and assertions
// non-zero means Yes; for messages the result is returned; fatal errors still end the process.
typedef int (*TSysBoxHook)(ESysBoxKind kind, const char* text, const char* caption);
void gSysSetBoxHook(TSysBoxHook hook);
// The hook in place (so that a test can wrap it and put it back).
TSysBoxHook gSysGetBoxHook();

// The platform half's real boxes. Without a back-end, or when not interactive, boxes print.
struct SSysBoxBackend
{
    // Shows the box and waits; the button pressed (SYS_IDOK, SYS_IDYES, SYS_IDNO), or -1 when
    // no box could be shown.
    int (*Show)(ESysBoxKind kind, const char* text, const char* caption);
    // Whether a person can answer here (a display, and no batch flag on the command line).
    bool (*CanWait)();
};
void gSysSetBoxBackend(const SSysBoxBackend* backend);

// File dialog: non-zero when a file was chosen, 0 when cancelled (or when no dialog could be shown).
int gSysFileOpen(const char* initialFolder, const char* filter, char* fileBuffer, size_t bufferSize, int save);

// ---------------------------------------------------------------------------------------------
// Display, timer (CLOCK_MONOTONIC) and sleeping

// Whether an X display is named (DISPLAY set and not empty).
bool gSysHasDisplay();
double gSysGetTime();
// Sleeps for the seconds, truncated to whole milliseconds.
void gSysSleep(double seconds);
// Waits until one of the descriptors has something to read or the seconds have passed (rounded up
// to whole milliseconds, so that a short wait never turns into a spin); negative descriptors are
// left out, and without any it only sleeps. True when one is readable.
bool gSysWaitReadable(const int* fds, u32 count, double seconds);
inline bool gSysWaitReadable(int fd, double seconds)
{
    return gSysWaitReadable(&fd, 1, seconds);
}

// ---------------------------------------------------------------------------------------------
// Memory

// The bytes of memory this process may use: the machine's physical memory, or less where the
// process's data or address-space limit, or a memory limit of its control group or of a group
// above it, says so.
u64 gSysMemoryLimit();
// Where the control-group file system is mounted, and the file that lists the process's groups.
static const char* const SYS_GROUP_ROOT = "/sys/fs/cgroup";
static const char* const SYS_OWN_GROUPS = "/proc/self/cgroup";
// The lowest memory limit of the groups listed in groupsFile (version 2 and the version 1 memory
// controller), each from the group up to the root of the tree mounted at root; ~0 for none.
u64 gSysGroupMemoryLimit(const char* root, const char* groupsFile);
// Has blocks of at least SYS_LARGE_BLOCK bytes (texture storage above all) mapped on their own,
// so that they go back to the system when freed. Left to itself, the allocator keeps such blocks
// in its heap once the first was freed, and a run of large textures leaves the process holding
// far more than it still uses.
static const u32 SYS_LARGE_BLOCK = 1u << 20;
void gSysReturnLargeBlocks();

// ---------------------------------------------------------------------------------------------
// The engine's own text-to-number readers (never the C locale)
int StrToInt(const char* text);
float StrToFloat(const char* text);

// ---------------------------------------------------------------------------------------------
// Assertions and fatal errors
// Shows the assertion box; returns after the user declines to debug.
void AssertBreak(const char* expression, const char* file, int line);
[[noreturn]] void FatalError(const char* format, ...) PW_PRINTF(1, 2);
void LogPrintf(const char* format, ...) PW_PRINTF(1, 2);

// Bare name of a source path ("engine/GTemplate.h" -> "GTemplate.h").
const char* gSysBaseName(const char* path);

// BREAK_IF(cond) reports cond when it holds and yields its truth, so the guarded code can skip:
//     if (BREAK_IF(at >= count)) return;
#define BREAK_IF(cond) ((cond) ? (AssertBreak(#cond, gSysBaseName(__FILE__), __LINE__), true) : false)
// The same, reporting a documented text in place of the condition as written here.
#define BREAK_IF_TEXT(cond, text) ((cond) ? (AssertBreak(text, gSysBaseName(__FILE__), __LINE__), true) : false)

// Invariants that must never be broken end the process.
#define FATAL_CHECK(cond)                                                               \
    do                                                                                  \
    {                                                                                   \
        if (!(cond))                                                                    \
            FatalError("ASSERT\n\nThis test expression is false:\n\n%s", #cond);        \
    } while (0)
