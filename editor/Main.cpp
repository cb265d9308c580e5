// Program entry, with a small application of its own: it clears the window every frame, ends
// on the window's close request and, in a batch run ("-opc"), quits right after Init.
#include "GameArgs.h"
#include "GameCore.h"

#include <GL/glew.h>

namespace
{
class SPlainApp : public IGame
{
public:
    void Init() override
    {
        for (int i = 1; i < gSysArgCount(); ++i)
            if (gStrEqual(gSysArg(i), "-opc"))
                GQuitFlag = 1;
    }
    void Shutdown() override {}
    void OnSetMode(const SVideoMode&) override {}
    void OnFocus(bool) override {}
    void Update(float, float) override {}
    void Render(float) override
    {
        glViewport(0, 0, GScreenWidth, GScreenHeight);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
};
} // namespace

int AppStartup()
{
    SetDataFolder("RERudu");
    GWindowTitle = "plumweave";
    GGame = new SPlainApp;
    return 1;
}

void AppShutdown()
{
    delete GGame;
    GGame = nullptr;
}

int main(int argc, char** argv)
{
    return GameMain(argc, argv);
}
