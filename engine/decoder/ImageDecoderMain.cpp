// plumweave_imgdec: decodes one BMP, TGA, JPG or DDS picture (DecodePicture) in a
// process of its own, so that a fault of a decoder on a malformed file ends only this process.
//
//   plumweave_imgdec TYPE WIDTH HEIGHT [NAME]
//   plumweave_imgdec --wait
//
// The file's bytes come on standard input, a memory file the engine made. The pixels go to
// standard output, also a memory file: exactly WIDTH x HEIGHT RGBA8 pixels, top row first,
// written in place; on failure (exit code 1) the reason in words instead. With --wait the program starts, loads the library and then waits for the
// job, the line "TYPE WIDTH HEIGHT NAME", on descriptor 3; the engine keeps one such process
// ready so that a decode does not wait for a program start. Exit code 0 on success; anything
// else (a message, a signal) is a failure; SIGXCPU means the picture took longer than the processor
// time its size allows (DecodeCpuSeconds). Either way one process decodes one picture.
#include <IL/il.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PictureDecode.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PW_DECODER_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PW_DECODER_SANITIZED 1
#endif

namespace
{
const int EXIT_USAGE = 2;
const int JOB_FD = 3;
const size_t JOB_LINE_MAX = 4096;
const int EXIT_DECODE = 1;
const uint32_t MAX_SIDE = 8192;
#ifndef PW_DECODER_SANITIZED
// Enough for the largest picture in the library's own format, our RGBA copy and its conversion.
const rlim_t ADDRESS_SPACE_LIMIT = (rlim_t)2 << 30;
#endif
void Limit(int resource, rlim_t value, rlim_t hard)
{
    rlimit r;
    r.rlim_cur = value;
    r.rlim_max = hard;
    setrlimit(resource, &r);
}

void Limit(int resource, rlim_t value)
{
    Limit(resource, value, value);
}

// The reason goes back in place of the pixels, for the engine to tell with the file's name.
[[noreturn]] void Fail(const char* name, const char* reason)
{
    const size_t length = strlen(reason);
    if (ftruncate(STDOUT_FILENO, 0) != 0 || pwrite(STDOUT_FILENO, reason, length, 0) != (ssize_t)length)
        fprintf(stderr, "Cannot decode \"%s\": %s\n", name, reason);
    // _exit: nothing of the library's state is worth tearing down, and no leak report is wanted.
    _exit(EXIT_DECODE);
}
} // namespace

// Reads the job line from JOB_FD; false when the engine went away without sending one.
bool ReadJob(char* line, size_t size)
{
    size_t n = 0;
    while (n + 1 < size)
    {
        const ssize_t r = read(JOB_FD, line + n, 1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        if (line[n] == '\n')
            break;
        ++n;
    }
    line[n] = 0;
    return true;
}

int main(int argc, char** argv)
{
    // Pixels past the file-size limit fail the decode with that reason rather than end it unexplained.
    signal(SIGXFSZ, SIG_IGN);
    Limit(RLIMIT_CORE, 0);
#ifndef PW_DECODER_SANITIZED
    // The sanitizers reserve terabytes of address space for their shadow memory.
    Limit(RLIMIT_AS, ADDRESS_SPACE_LIMIT);
#endif
    ilInit();
    int type = 0;
    long w = 0, h = 0;
    const char* name = "";
    static char job[JOB_LINE_MAX];
    if (argc == 2 && strcmp(argv[1], "--wait") == 0)
    {
        if (!ReadJob(job, sizeof(job)))
            _exit(0); // not needed after all
        int nameAt = 0;
        if (sscanf(job, "%d %ld %ld %n", &type, &w, &h, &nameAt) < 3)
            Fail("", "malformed job");
        name = job + nameAt;
    }
    else if (argc >= 4)
    {
        type = atoi(argv[1]);
        w = atol(argv[2]);
        h = atol(argv[3]);
        name = argc > 4 ? argv[4] : "";
    }
    else
    {
        fprintf(stderr, "usage: %s TYPE WIDTH HEIGHT [NAME] <file 1<>pixels\n       %s --wait\n", argv[0], argv[0]);
        return EXIT_USAGE;
    }
    if (w < 1 || h < 1 || w > (long)MAX_SIDE || h > (long)MAX_SIDE)
        Fail(name, "size outside the decode limit");
    // The time is known once the size is. At the limit the kernel ends the process with SIGXCPU,
    // which the engine tells in words; a second later it would kill it outright.
    const rlim_t seconds = DecodeCpuSeconds((uint32_t)w, (uint32_t)h);
    Limit(RLIMIT_CPU, seconds, seconds + 1);

    struct stat st;
    if (fstat(STDIN_FILENO, &st) != 0 || st.st_size <= 0)
        Fail(name, "no file bytes on standard input");
    void* in = mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, STDIN_FILENO, 0);
    if (in == MAP_FAILED)
        Fail(name, "cannot map the file bytes");
    const size_t outBytes = (size_t)w * (size_t)h * 4;
    if (ftruncate(STDOUT_FILENO, (off_t)outBytes) != 0)
    {
        char why[JOB_LINE_MAX];
        snprintf(why, sizeof(why), "cannot size the pixel output: %s", strerror(errno));
        Fail(name, why);
    }
    // Populated at once: one call instead of a fault per page.
    void* out = mmap(nullptr, outBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, STDOUT_FILENO, 0);
    if (out == MAP_FAILED)
        Fail(name, "cannot map the pixel output");

    char error[256];
    if (!DecodePicture(in, (size_t)st.st_size, type, (uint32_t)w, (uint32_t)h, (uint8_t*)out, error,
                                sizeof(error)))
        Fail(name, error);
    _exit(0);
}
