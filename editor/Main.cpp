// Program entry: the engine main with the application's hooks (Plumweave.h).
#include "GameCore.h"

int main(int argc, char** argv)
{
    return GameMain(argc, argv);
}
