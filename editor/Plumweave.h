// The application as the engine sees it: the start-up and exit hooks, the command line, the
// language texts, the screen-sized target the GUI is drawn into, and the globals of the editor.
#pragma once

#include "GameCore.h"
#include "GameRT.h"

class SMainWin;

// What the command line asks for.
struct SAppArgs
{
    TString StartDocument; // the last argument not beginning with '-'
    u32 BatchRun;          // "-opc"
    TString ListenPort;    // what the last "-listen" names: a port, or ADDRESS:PORT; empty when none
    u32 ListenWithoutPort; // "-listen" was the last argument
};

// Reads args from index 1 on: a later document replaces an earlier one, "-listen" consumes the
// next argument as its port, other arguments beginning with '-' are ignored. Comparisons are
// exact and case-sensitive.
SAppArgs ReadAppArgs(const TArray<TString>& args);

extern const char* const APP_LANGUAGE;

class Plumweave : public IGame
{
public:
    TextureRef ScreenTex;
    FrameBufferRef ScreenTarget;
    mVec3 LightAngles;  // azimuth, polar angle, length
    mVec3 CameraOrbit;  // azimuth, polar angle, distance

    Plumweave();
    ~Plumweave() override;
    void Init() override;
    void Shutdown() override;
    void OnSetMode(const SVideoMode& mode) override;
    void OnFocus(bool gained) override;
    void Update(float time, float step) override;
    void Render(float alpha) override;
    // Queued nodes and a held mouse button (a drag) change the picture without further events.
    bool IsPictureChanging() override;
    // Polls the job server; the wait lasts until its next timer.
    double IdleWork(double now) override;
    // The job server's socket: a datagram ends the wait at once.
    int IdleWakeHandle() override;

    // The screen texture and target at the screen's size. false when the target is refused.
    bool CreateScreenTarget();
};

extern Plumweave* GApp;
extern SMainWin* GMainWin;

// The start-up and exit hooks of the engine main: the command line read, the job server opened,
// the application object made; then everything let go again.
int AppStartup();
void AppShutdown();

void OnWindowResize(SVideoMode* mode);
// Switches the text dictionary to the language's folder beside the program, loads "default.txt"
// and every file of its "nodes/" folder, and with withFont the GUI font the "FONT" text names.
void LoadLanguage(const char* language, bool withFont);
// The language folder for a program path.
TString LanguageFolder(const TString& programPath, const char* dataFolder, const char* language);
