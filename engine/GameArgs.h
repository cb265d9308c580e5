// The process's command-line arguments; argument 0 is the program's own path.
#pragma once

#include "GTemplate.h"

extern TArray<TString> GSysArgs;

// Fills GSysArgs: from the given texts when there are any, else by splitting the process's
// command line. Argument 0 becomes the real program path.
void gSysParseCommandLine(int count, const char* const* list);
// Splits one command-line text into arguments (quotes, blanks and backslash runs).
void gSysSplitCommandLine(const char* commandLine, TArray<TString>& out);

int gSysArgCount();
const char* gSysArg(int i);
int gSysArgLength(int i);
const char* gSysExePath();
// The running program's own path, from the operating system.
TString gSysProgramPath();
