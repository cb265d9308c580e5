// The real program's batch run: it builds only the programs its nodes draw with, and the material
// sample it ships comes out as a tileable material in every file it names.
#include "JobClient.h"
#include "ProcessSupport.h"
#include "TestSupport.h"
#include "TexJobServer.h"

#include <fcntl.h>
#include <png.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace
{
const int RUN_WAIT_MS = 240000;
const char* const PRLIMIT = "/usr/bin/prlimit";
const char* const TWO_NODES = "GKV_File_Version_2\n"
                              "NODE STexNode_GPUNoise _ID=\"0\" pos0=\"0;0\" Width=\"8\" Height=\"8\"\n"
                              "NODE STexNode_Extract _ID=\"1\" pos0=\"200;0\" TexName=\"out.png\" RelKVF=\"1\"\n"
                              "LINK 0 0 1 0\n";
const char* const SHADER_LOADED_PREFIX = "Shader \"";
const char* const SHADER_LOADED_SUFFIX = "\" not found in storage";

struct SRun
{
    int status = -1; // exit code, or -1 when the program did not end by itself in time
    std::string out; // standard output and standard error
};

// plumweave with args in cwd, without a display, as a batch machine runs it (under the prlimit
// options of limits, when given); its output captured.
SRun RunProgram(const std::vector<std::string>& args, const std::string& cwd, const std::string& limits = "")
{
    SRun run;
    int fds[2];
    if (pipe(fds) != 0)
        return run;
    const std::string program = std::string(PW_BIN_DIR) + "/plumweave";
    std::vector<std::string> limited = {limits, program};
    limited.insert(limited.end(), args.begin(), args.end());
    const pid_t pid = limits.empty() ? StartHeadless(program, args, cwd, fds[1])
                                     : StartHeadless(PRLIMIT, limited, cwd, fds[1]);
    close(fds[1]);
    if (pid < 0)
    {
        close(fds[0]);
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(RUN_WAIT_MS);
    char buf[4096];
    for (;;)
    {
        pollfd p = {fds[0], POLLIN, 0};
        const int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
        {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(&p, 1, left) <= 0)
            continue;
        const ssize_t n = read(fds[0], buf, sizeof(buf));
        if (n <= 0)
            break;
        run.out.append(buf, (size_t)n);
    }
    close(fds[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    run.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return run;
}

// The programs a run's console says it built, by their storage keys.
std::set<std::string> BuiltPrograms(const std::string& out)
{
    std::set<std::string> keys;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
    {
        const size_t at = line.find(SHADER_LOADED_PREFIX);
        const size_t end = line.find(SHADER_LOADED_SUFFIX);
        if (at != std::string::npos && end != std::string::npos && end > at)
        {
            const size_t from = at + std::string(SHADER_LOADED_PREFIX).size();
            keys.insert(line.substr(from, end - from));
        }
    }
    return keys;
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

struct SPicture
{
    u32 width = 0, height = 0;
    std::vector<u8> rgba; // rows from the top
    int At(u32 x, u32 y, u32 channel) const { return rgba[((size_t)y * width + x) * 4 + channel]; }
};

// Decoded by libpng; empty when the file does not read.
SPicture ReadPng(const std::string& path)
{
    SPicture pic;
    png_image img = {};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        return pic;
    img.format = PNG_FORMAT_RGBA;
    pic.rgba.resize((size_t)PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, pic.rgba.data(), 0, nullptr))
        return SPicture();
    pic.width = img.width;
    pic.height = img.height;
    return pic;
}

double ChannelMean(const SPicture& p, u32 channel)
{
    double sum = 0;
    for (u32 y = 0; y < p.height; ++y)
        for (u32 x = 0; x < p.width; ++x)
            sum += p.At(x, y, channel);
    return sum / ((double)p.width * p.height);
}

// Mean absolute difference of the colour channels between rows a and b, and between columns a and b.
double RowStep(const SPicture& p, u32 a, u32 b)
{
    double sum = 0;
    for (u32 x = 0; x < p.width; ++x)
        for (u32 c = 0; c < 3; ++c)
            sum += std::abs(p.At(x, a, c) - p.At(x, b, c));
    return sum / (p.width * 3.0);
}

double ColumnStep(const SPicture& p, u32 a, u32 b)
{
    double sum = 0;
    for (u32 y = 0; y < p.height; ++y)
        for (u32 c = 0; c < 3; ++c)
            sum += std::abs(p.At(a, y, c) - p.At(b, y, c));
    return sum / (p.height * 3.0);
}

// Whether the picture continues across its edges as it does between neighbouring rows and columns
// inside it: the step from the last row to the first is no larger than a few average steps.
bool Tiles(const SPicture& p)
{
    const double SEAM_TOLERANCE = 3.0;
    double rows = 0, columns = 0;
    for (u32 i = 0; i + 1 < p.height; ++i)
        rows += RowStep(p, i, i + 1);
    for (u32 i = 0; i + 1 < p.width; ++i)
        columns += ColumnStep(p, i, i + 1);
    rows /= p.height - 1;
    columns /= p.width - 1;
    return RowStep(p, p.height - 1, 0) <= SEAM_TOLERANCE * rows &&
           ColumnStep(p, p.width - 1, 0) <= SEAM_TOLERANCE * columns;
}

u32 LittleEndian32(const std::string& bytes, size_t at)
{
    return (u32)(u8)bytes[at] | (u32)(u8)bytes[at + 1] << 8 | (u32)(u8)bytes[at + 2] << 16 | (u32)(u8)bytes[at + 3] << 24;
}
} // namespace

TEST(ProgramBatchRun, ABatchRunBuildsOnlyTheProgramsItsNodesDrawWith)
{
    TTempDir dir;
    WriteText(dir.File("noise.kvf"), TWO_NODES);
    const SRun run = RunProgram({"noise.kvf", "-opc"}, dir.Path());
    ASSERT_EQ(run.status, 0) << run.out;
    // The noise node's program and the copy pass of the file-writing node: nothing of the interface.
    const std::set<std::string> expected = {"Nodes/Generate/Noise", "FSQuad"};
    EXPECT_EQ(BuiltPrograms(run.out), expected) << run.out;
    EXPECT_EQ(ReadPng(dir.File("out.png")).width, 8u);
}

TEST(ProgramBatchRun, TheMaterialSampleWritesATileableMaterialInEveryFileItNames)
{
    const u32 SIDE = 1024;
    const int OPAQUE = 255;
    // A normal map of a mostly level surface: x and y around the middle, z well above it.
    const double NORMAL_XY_MID = 127.5, NORMAL_XY_SPREAD = 12.0, NORMAL_Z_MIN = 200.0;
    // Albedo: not one flat colour, and warmer (red over blue) like the earth it is.
    const double ALBEDO_MIN_SPREAD = 4.0;
    const size_t DDS_HEIGHT_AT = 12, DDS_WIDTH_AT = 16, DDS_FOURCC_AT = 84;

    TTempDir dir;
    WriteText(dir.File("Material.kvf"), ReadBytes(std::string(PW_SAMPLES_DIR) + "/Material.kvf"));
    const SRun run = RunProgram({"Material.kvf", "-opc"}, dir.Path());
    ASSERT_EQ(run.status, 0) << run.out;

    const SPicture albedo = ReadPng(dir.File("Material-albedo.png"));
    const SPicture normal = ReadPng(dir.File("Material-normal.png"));
    for (const SPicture* p : {&albedo, &normal})
    {
        ASSERT_EQ(p->width, SIDE);
        ASSERT_EQ(p->height, SIDE);
        EXPECT_EQ(ChannelMean(*p, 3), OPAQUE);
        EXPECT_TRUE(Tiles(*p));
    }
    EXPECT_NEAR(ChannelMean(normal, 0), NORMAL_XY_MID, NORMAL_XY_SPREAD);
    EXPECT_NEAR(ChannelMean(normal, 1), NORMAL_XY_MID, NORMAL_XY_SPREAD);
    EXPECT_GT(ChannelMean(normal, 2), NORMAL_Z_MIN);
    EXPECT_GT(ChannelMean(albedo, 0), ChannelMean(albedo, 2));
    double spread = 0;
    const double mean = ChannelMean(albedo, 0);
    for (u32 y = 0; y < SIDE; ++y)
        for (u32 x = 0; x < SIDE; ++x)
            spread += std::abs(albedo.At(x, y, 0) - mean);
    EXPECT_GT(spread / ((double)SIDE * SIDE), ALBEDO_MIN_SPREAD);

    const std::string jpg = ReadBytes(dir.File("Material-height.jpg"));
    ASSERT_GT(jpg.size(), 2u);
    EXPECT_EQ((u8)jpg[0], 0xFF);
    EXPECT_EQ((u8)jpg[1], 0xD8);
    const std::string dds = ReadBytes(dir.File("Material-albedo.dds"));
    ASSERT_GT(dds.size(), DDS_FOURCC_AT + 4);
    EXPECT_EQ(dds.substr(0, 4), "DDS ");
    EXPECT_EQ(LittleEndian32(dds, DDS_WIDTH_AT), SIDE);
    EXPECT_EQ(LittleEndian32(dds, DDS_HEIGHT_AT), SIDE);
    EXPECT_EQ(dds.substr(DDS_FOURCC_AT, 4), "DXT5");
}

TEST(ProgramBatchRun, UnderAMemoryLimitARunEndsWithItsWorkOrTheReasonNeverASignal)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit such limits";
#endif
    const int OUTPUT_FAILED = 2;
    const struct
    {
        const char* limit;
        const char* document;
        bool mayFail; // exit 2 with the reason rather than 0
    } cases[] = {
        {"--as=1500000000", "noise.kvf", false},      // crashed in the GL driver's shader compiler
        {"--as=400000000", "Material.kvf", true},     // crashed, or said only "Null texture found"
        {"--as=209715200", "noise.kvf", true},        // exit 222, no GL context
        {"--data=67108864", "Material.kvf", true},    // crashed
    };
    TTempDir dir;
    WriteText(dir.File("noise.kvf"), TWO_NODES);
    WriteText(dir.File("Material.kvf"), ReadBytes(std::string(PW_SAMPLES_DIR) + "/Material.kvf"));
    for (const auto& c : cases)
    {
        const SRun run = RunProgram({c.document, "-opc"}, dir.Path(), c.limit);
        EXPECT_TRUE(run.status == 0 || (c.mayFail && run.status == OUTPUT_FAILED)) << c.limit << run.out;
        EXPECT_TRUE(run.status != OUTPUT_FAILED || run.out.find("memory") != std::string::npos) << c.limit << run.out;
    }
}

TEST(ProgramBatchRun, AJobServerUnderAMemoryLimitAnswersItsJobsAndGoesOn)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit such limits";
#endif
    const int START_WAIT_MS = 30000, ATTEMPT_MS = 500, DRAIN_MS = 3000, REPLY_WAIT_MS = 60000;
    TTempDir dir;
    WriteText(dir.File("noise.kvf"), TWO_NODES);
    TJobClient client;
    ASSERT_TRUE(client.IsOpen());
    const uint16_t port = FreeUdpPort();
    const std::string doc = dir.File("noise.kvf");
    TProgramGuard server(StartHeadless(
        PRLIMIT, {"--as=1500000000", std::string(PW_BIN_DIR) + "/plumweave", "-listen", std::to_string(port)},
        dir.Path(), OUTPUT_DROPPED));
    // The first job also waits for the server to come up: under this limit it died on it.
    int status = -1;
    bool answered = false;
    for (int waited = 0; !answered && waited < START_WAIT_MS; waited += ATTEMPT_MS)
        answered = client.SendPath(port, doc, (uint32_t)doc.size()) && client.WaitReply(ATTEMPT_MS, status);
    ASSERT_TRUE(answered);
    EXPECT_EQ(status, JOB_Done);
    while (client.Pending(DRAIN_MS))
    {
    }
    ASSERT_TRUE(client.SendPath(port, doc, (uint32_t)doc.size()));
    EXPECT_TRUE(client.WaitReply(REPLY_WAIT_MS, status));
    EXPECT_EQ(status, JOB_Done);
}
