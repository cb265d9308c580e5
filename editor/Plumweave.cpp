// The application: start-up and exit hooks, the command line, the language texts, the screen
// target drawn every tick and shown every frame, the save shortcut and the window title.
#include "Plumweave.h"

#include <GL/glew.h>
#include <stdlib.h>
#include <unistd.h>

#include "GameArgs.h"
#include "GameConsole.h"
#include "GameFileIO.h"
#include "GameFont.h"
#include "GameImageDecoder.h"
#include "GameInput.h"
#include "GameMaterial.h"
#include "GameNet.h"
#include "GameShader.h"
#include "GameText.h"
#include "GameVertex.h"
#include "GUILayer.h"
#include "TexDocPath.h"
#include "TexJobServer.h"
#include "TexJobServerIdle.h"
#include "TexMainWin.h"
#include "TexNodeRegistry.h"
#include "TexProcessor.h"

const char* const APP_LANGUAGE = "en-US";

Plumweave* GApp = nullptr;
SMainWin* GMainWin = nullptr;

namespace
{
const char* const ARG_BATCH = "-opc";
const char* const ARG_LISTEN = "-listen";
const char* const DATA_FOLDER = "RERudu";
const char* const TEXT_FOLDER = "Data/Text/";
const char* const NODE_TEXT_FOLDER = "nodes/";
const char* const DEFAULT_TEXTS = "default.txt";
const double FIXED_TICK = 1.0 / 60.0;
const double MIN_FRAME_TIME = 1.0 / 120.0;
const u32 KEY_S = 83;
const u32 SCREEN_BLEND = 0x1761;
const mVec3 CAMERA_START(15.0f, 15.0f, 15.0f);
const mVec3 LIGHT_TOWARDS(2.2f, 0.5f, 0.6f);
const mVec3 LIGHT_COLOR(1.0f, 0.9f, 0.8f);
const mVec3 AMBIENT_COLOR(0.05f, 0.1f, 0.15f);
const float CAMERA_FOV = 90.0f;
const float CAMERA_NEAR = 1.0f;
const float CAMERA_FAR = 1000.0f;

// (azimuth, polar angle, length) of a vector; the polar angle is measured from +z.
mVec3 ToSpherical(const mVec3& v)
{
    const float len = v.Length();
    const float polar = len > 0.0f ? gAcos(v.z / len) : 0.0f;
    return mVec3(gAtan2(v.y, v.x), polar, len);
}

mVec3 UnitFromAngles(float azimuth, float polar)
{
    return mVec3(gSin(polar) * gCos(azimuth), gSin(polar) * gSin(azimuth), gCos(polar));
}

const char* Text(const char* key)
{
    return GTextDict.Get(key).Str();
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Command line

SAppArgs ReadAppArgs(const TArray<TString>& args)
{
    SAppArgs out;
    out.BatchRun = 0;
    out.ListenWithoutPort = 0;
    for (u32 i = 1; i < args.Count(); ++i)
    {
        const TString& a = args[i];
        if (a.IsEmpty() || a.Str()[0] != '-')
            out.StartDocument = a;
        else if (a == ARG_BATCH)
            out.BatchRun = 1;
        else if (a == ARG_LISTEN)
        {
            if (i + 1 >= args.Count())
            {
                out.ListenWithoutPort = 1;
                break;
            }
            out.ListenPort = args[++i];
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Language

TString LanguageFolder(const TString& programPath, const char* dataFolder, const char* language)
{
    TString folder;
    BuildBaseFolder(programPath.Str(), dataFolder, folder);
    folder += TEXT_FOLDER;
    folder += language;
    folder += "/";
    return folder;
}

void LoadLanguage(const char* language, bool withFont)
{
    GTextDict.Files.Clear();
    GTextDict.SetLanguage(LanguageFolder(gSysProgramPath(), GDataFolder, language).Str());
    GTextDict.Load(DEFAULT_TEXTS);
    TString nodes = GTextDict.Folder;
    nodes += NODE_TEXT_FOLDER;
    SFileFind find(nodes.Str());
    for (bool more = find.IsValid(); more; more = find.Next())
    {
        const TString name = find.GetName();
        if (name == "." || name == "..")
            continue;
        TString file = NODE_TEXT_FOLDER;
        file += name;
        GTextDict.Load(file.Str());
    }
    if (!withFont)
        return;
    SFont* font = new SFont;
    TString path;
    GTextDict.Find("FONT", path);
    if (!font->Load(path.Str()))
        ConsolePrintf("LoadLanguage: font \"%s\" could not be loaded", path.Str());
    if (GGUIFont)
    {
        GGUIFont->Clear();
        delete GGUIFont;
    }
    GGUIFont = font;
}

// ---------------------------------------------------------------------------------------------
// Hooks

int AppStartup()
{
    TexRegisterNodeClasses();
    InitImageLibrary();
    GFixedStep = FIXED_TICK;
    GMinFrameTime = MIN_FRAME_TIME;
    // Frames only while the picture changes; without a display none at all.
    GRedrawOnChange = 1;
    GDialogRelativePaths = false;
    GResizeCallback = &OnWindowResize;
    GQuitRequestHook = &ConfirmQuit;
    SetDataFolder(DATA_FOLDER);
    LoadLanguage(APP_LANGUAGE, false);
    GWindowTitle = GTextDict.Get("LOADING");
    NetStartup();

    const SAppArgs args = ReadAppArgs(GSysArgs);
    if (args.ListenWithoutPort)
        gSysFatalError(Text("MSG_Listen"), Text("ERR_TITLE"));
    GStartDocument = AppDocumentPath(args.StartDocument);
    GBatchRun = args.BatchRun;
    // Batch runs and job servers work without a display; the editor is nothing without its window.
    GWindowRequired = !GBatchRun && args.ListenPort.IsEmpty();
    if (!args.ListenPort.IsEmpty())
    {
        TString failure;
        SJobServer* server = OpenJobServer(args.ListenPort.Str(), failure);
        if (!server)
            gSysFatalError(failure.Str(), Text("ERR_TITLE"));
        SetJobServer(server);
    }
    GApp = new Plumweave;
    GGame = GApp;
    return 1;
}

void AppShutdown()
{
    GQuitRequestHook = nullptr;
    SetJobServer(nullptr);
    delete GApp;
    GApp = nullptr;
    GGame = nullptr;
    NetCleanup();
}

void OnWindowResize(SVideoMode* mode)
{
    if (!mode)
        return;
    ConsoleResize(mode->Width, mode->Height);
    GScreenWidth = mode->Width;
    GScreenHeight = mode->Height;
    if (GApp)
        GApp->OnSetMode(*mode);
    glViewport(0, 0, mode->Width, mode->Height);
}

// ---------------------------------------------------------------------------------------------
// Application object

Plumweave::Plumweave() : LightAngles(0, 0, 0), CameraOrbit(0, 0, 0) {}

Plumweave::~Plumweave()
{
    ScreenTarget.Release();
    ScreenTex.Release();
}

bool Plumweave::CreateScreenTarget()
{
    ScreenTarget.Release();
    ScreenTex.Release();
    if (!TEX_Create(ScreenTex, (u32)GScreenWidth, (u32)GScreenHeight, 1, 1, TEXFMT_RGBA8, nullptr, 0))
        return false;
    ScreenTarget = FrameBufferRef(new SFrameBuffer);
    ScreenTarget->AttachTexture(0, ScreenTex, FBA_Color);
    TString failure;
    if (!FB_Complete(*ScreenTarget, &failure))
    {
        ConsolePrintf("CreateScreenTarget: %s", failure.Str());
        ScreenTarget.Release();
        return false;
    }
    return true;
}

void Plumweave::Init()
{
    LoadLanguage(APP_LANGUAGE, true);
    glEnable(GL_LINE_SMOOTH);
    CreateScreenTarget();
    GMainWin = new SMainWin;
    CameraOrbit = ToSpherical(CAMERA_START);
    LightAngles = ToSpherical((-LIGHT_TOWARDS).NormalizedCopy());
    GLightColor = LIGHT_COLOR;
    GAmbientColor = AMBIENT_COLOR;
}

void Plumweave::Shutdown()
{
    ScreenTarget.Release();
    ScreenTex.Release();
    delete GMainWin;
    GMainWin = nullptr;
    GProcessor = nullptr;
}

void Plumweave::OnSetMode(const SVideoMode&)
{
    // The first mode is set before Init: there is nothing to fit yet.
    if (!GMainWin)
        return;
    CreateScreenTarget();
    GMainWin->UpdateTreeRects();
}

void Plumweave::OnFocus(bool) {}

void Plumweave::Update(float, float step)
{
    if (!ScreenTarget.IsNull())
    {
        PushFrameBuffer(ScreenTarget);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        GProjectionMatrix = M_OrthoMatrix(0.0f, (float)GScreenWidth, 0.0f, (float)GScreenHeight, -1.0f, 1.0f);
        GViewMatrix = mMat4();
        if (GMainWin)
            SGUILayer::DrawTree(GMainWin, step);
        PopFrameBuffer(ScreenTarget);
    }
    // Decided by Control at the moment S went down: xdotool, or a quick hand, lets Control go in
    // the same tick.
    if (KeyPressedWith(KEY_S, KEY_LeftControl))
        FileSave();
    if (GJobServer)
        PollJobServer(*GJobServer);
    if (GProcessor)
        UpdateWindowTitle(GProcessor->FileName.Str(), GProcessor->Edited != 0);
}

void Plumweave::Render(float)
{
    glClearColor(0.4f, 0.5f, 0.7f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const mVec3 eye = UnitFromAngles(CameraOrbit.x, CameraOrbit.y) * CameraOrbit.z;
    GViewMatrix = M_LookAtMatrix(eye, mVec3(0, 0, 0), mVec3(0, 0, 1));
    const float aspect = GScreenHeight > 0 ? (float)GScreenWidth / (float)GScreenHeight : 1.0f;
    GProjectionMatrix = M_PerspectiveMatrix(CAMERA_FOV, aspect, CAMERA_NEAR, CAMERA_FAR);
    GWorldMatrix = mMat4();
    glClear(GL_DEPTH_BUFFER_BIT);
    UseShader(SCREEN_BLEND, GetShader("FSQuad"));
    TEX_Bind(0, ScreenTex);
    DrawFullscreenQuad(-1, 1, 1, -1, 0);
}

bool Plumweave::IsPictureChanging()
{
    if (GProcessor && !GProcessor->UpdateList.IsEmpty())
        return true;
    return GMouseLeft || GMouseRight || GKeys[KEY_MouseMiddle];
}

double Plumweave::IdleWork(double now)
{
    if (!GJobServer)
        return IDLE_LONGEST_WAIT;
    PollJobServerAt(*GJobServer, now);
    // A job that came in may have ended or replaced the server.
    if (!GJobServer)
        return 0.0;
    return JobServerNextTimer(*GJobServer, now, IDLE_LONGEST_WAIT);
}

int Plumweave::IdleWakeHandle()
{
    return GJobServer ? GJobServer->Socket : -1;
}
