// Program entry.
#include "GameArgs.h"

int main(int argc, char** argv)
{
    gSysParseCommandLine(argc, argv);
    for (int i = 0; i < gSysArgCount(); ++i)
        LogPrintf("%s\n", gSysArg(i));
    return 0;
}
