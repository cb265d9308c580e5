// Program entry: the engine main with the application's hooks.
#include "Plumweave.h"

int main(int argc, char** argv)
{
    return GameRun(argc, argv, AppStartup, AppShutdown);
}
