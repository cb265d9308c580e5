#include "GameArgs.h"

#include <unistd.h>

TArray<TString> GSysArgs;

void gSysSplitCommandLine(const char* commandLine, TArray<TString>& out)
{
    out.Resize(0);
    bool quoting = false;
    // Before the first character a new argument is due, so leading blanks create no empty argument.
    bool due = true;
    auto startArgument = [&]() {
        out.Add(TString());
        due = false;
    };
    auto addChar = [&](char c) {
        if (due)
            startArgument();
        out.Last() += c;
    };

    const char* p = commandLine;
    while (p && *p)
    {
        char c = *p;
        if (c == ' ' || c == '\t')
        {
            if (quoting)
                addChar(c);
            else
                due = true;
            ++p;
        }
        else if (c == '"')
        {
            quoting = !quoting;
            if (due && quoting)
                startArgument();
            ++p;
        }
        else if (c == '\\')
        {
            const char* run = p;
            while (*p == '\\')
                ++p;
            size_t backslashes = (size_t)(p - run);
            if (due)
                startArgument();
            if (*p == '"')
            {
                for (size_t i = 0; i < backslashes / 2; ++i)
                    out.Last() += '\\';
                if (backslashes % 2)
                {
                    out.Last() += '"';
                    ++p;
                }
                // With an even run the quote is handled as a quote on the next step.
            }
            else
            {
                for (size_t i = 0; i < backslashes; ++i)
                    out.Last() += '\\';
            }
        }
        else
        {
            addChar(c);
            ++p;
        }
    }
}

TString gSysProgramPath()
{
    TString path;
    for (u32 size = 256; size <= (1u << 20); size *= 2)
    {
        path.SetLength(size);
        ssize_t n = readlink("/proc/self/exe", path.Buffer(), size);
        if (n < 0)
        {
            path.SetLength(0);
            return path;
        }
        if ((u32)n < size)
        {
            path.SetLength((u32)n);
            return path;
        }
    }
    path.SetLength(0);
    return path;
}

void gSysParseCommandLine(int count, const char* const* list)
{
    GSysArgs.Resize(0);
    if (list && count > 0)
    {
        for (int i = 0; i < count; ++i)
            GSysArgs.Add(TString(list[i] ? list[i] : ""));
    }
    else
    {
        // The process's own arguments, as the kernel keeps them.
        FILE* f = fopen("/proc/self/cmdline", "rb");
        if (f)
        {
            TString arg;
            int c;
            bool any = false;
            while ((c = fgetc(f)) != EOF)
            {
                any = true;
                if (c == 0)
                {
                    GSysArgs.Add(arg);
                    arg.SetLength(0);
                    any = false;
                }
                else
                    arg += (char)c;
            }
            if (any)
                GSysArgs.Add(arg);
            fclose(f);
        }
    }
    // Argument 0 is the real program path, whatever name the program was started by.
    TString exe = gSysProgramPath();
    if (!exe.IsEmpty())
    {
        if (GSysArgs.count == 0)
            GSysArgs.Add(exe);
        else
            GSysArgs[0] = exe;
    }
}

int gSysArgCount()
{
    return (int)GSysArgs.count;
}

static bool ArgIndexValid(int i)
{
    if (i < 0 || (u32)i >= GSysArgs.count)
    {
        AssertBreak("at >= count", "GTemplate.h", __LINE__);
        return false;
    }
    return true;
}

const char* gSysArg(int i)
{
    return ArgIndexValid(i) ? GSysArgs.data[i].Str() : "";
}

int gSysArgLength(int i)
{
    return ArgIndexValid(i) ? (int)GSysArgs.data[i].count : 0;
}

const char* gSysExePath()
{
    return gSysArg(0);
}
