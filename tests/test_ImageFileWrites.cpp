// Image files written in every format the program writes go through one temporary-file path:
// names up to the file system's limit are written, and a write through a symbolic link keeps the
// link and the old file's mode.
#include "TestSupport.h"

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "GameFileIO.h"
#include "GameImage.h"
#include "GameImageFile.h"
#include "ProcessSupport.h"

namespace
{
const u32 SIDE = 8;
const u32 OPAQUE_GREY = 0xFF808080u;
const char* const WRITTEN_EXTENSIONS[] = {"png", "jpg", "dds"};
// One CJK character is three bytes in UTF-8.
const char* const CJK_CHARACTER = "\xE7\x95\x8C";
const u32 CJK_BYTES = 3;
const mode_t PRIVATE_MODE = 0600;
const mode_t READ_ONLY_MODE = 0444, NO_ACCESS_MODE = 0, SHARED_MODE = 0777, STICKY_SHARED_MODE = 01777;
const uid_t OTHER_USER = 1; // neither the writer nor the folders' owner ("daemon")
// Named by their size, with the bytes each must have: DDS is a 128-byte header and 16 bytes per 4x4
// DXT5 block, so that 8 and 24 blocks make whole multiples of 256 bytes; BMP a 54-byte header and
// the pixels; TGA's optional areas leave its length open (0). DXT keeps grey within 5:6:5.
const struct { const char* name; size_t bytes; u32 tolerance; } LIBRARY_FILES[] = {
    {"16x8.dds", 128 + 8 * 16, 8}, {"24x16.dds", 128 + 24 * 16, 8}, {"8x8.tga", 0, 0}, {"8x8.bmp", 54 + 64 * 4, 0}};
const u32 TGA_ORIGIN_AT = 8, TGA_DESCRIPTOR_AT = 17, TGA_ALPHA_BITS = 8;
const char TGA_FOOTER_END[] = "TRUEVISION-XFILE.";
const u32 SIGNALLED_WRITE_BYTES = 32u << 20;
const mode_t SHARED_UMASK = 022;
const char* const OLD_CONTENT = "old content";
const u32 RACING_WRITERS = 8, RACING_WRITE_BYTES = 4u << 20;

SImage2D Grey(u32 w = SIDE, u32 h = SIDE)
{
    SImage2D img(w, h);
    for (u32 i = 0; i < w * h; ++i)
        img.Pixels[i] = OPAQUE_GREY;
    return img;
}

std::vector<u8> Contents(const std::string& path)
{
    TPodArray<u8> bytes;
    EXPECT_TRUE(ReadArrayFromBinaryFile(path.c_str(), bytes)) << path;
    return std::vector<u8>(bytes.data, bytes.data + bytes.count);
}

// Writes the picture by the name's extension: PNG through the engine's encoder, the others
// through the image library.
int Write(const std::string& path)
{
    const std::string ext = path.substr(path.size() - 3);
    if (ext == "png")
        return SaveImage(path.c_str(), Grey());
    SImageSaveOptions options;
    return EncodeImageFile(path.c_str(), Grey(), options, false);
}

// A file name of exactly bytes bytes of CJK characters, padded with letters, ending in .ext.
std::string LongName(u32 bytes, const char* ext)
{
    std::string name;
    const u32 stem = bytes - 4;
    while (name.size() + CJK_BYTES <= stem)
        name += CJK_CHARACTER;
    name.append(stem - name.size(), 'a');
    return name + "." + ext;
}

u32 EntriesIn(const std::string& folder, const char* part = "")
{
    u32 n = 0;
    for (SFileFind find(folder.c_str()); find.IsValid(); find.Next())
        if (find.GetName() != "." && find.GetName() != ".." && strstr(find.GetName().Str(), part))
            ++n;
    return n;
}
} // namespace

TEST(ImageFileWrites, NamesUpToTheFileSystemLimitAreWrittenInEveryFormat)
{
    for (const char* ext : WRITTEN_EXTENSIONS)
        for (u32 bytes : {245u, 250u, (u32)NAME_MAX})
        {
            TTempDir dir;
            const std::string path = dir.File(LongName(bytes, ext).c_str());
            EXPECT_EQ(1, Write(path)) << ext << " " << bytes;
            SImage2D back;
            EXPECT_EQ(1, DecodeImageFile(path.c_str(), back)) << ext << " " << bytes;
            EXPECT_EQ(SIDE, back.Width) << ext << " " << bytes;
            // Nothing but the picture is left behind.
            EXPECT_EQ(1u, EntriesIn(dir.Path())) << ext << " " << bytes;
        }
}

TEST(ImageFileWrites, TemporaryNamesStayWithinTheLimitAndCutNoCharacter)
{
    TTempDir dir;
    const std::string target = dir.File(LongName(NAME_MAX, "png").c_str());
    const std::string temp = MakeTempName(target.c_str()).Str();
    ASSERT_EQ(temp.compare(0, dir.Path().size() + 1, dir.Path() + "/"), 0) << temp;
    const std::string name = temp.substr(dir.Path().size() + 1);
    EXPECT_LE(name.size(), (size_t)NAME_MAX);
    const size_t suffix = name.find(".tmp");
    ASSERT_NE(suffix, std::string::npos) << name;
    // The part kept from the target's name is its start, made of whole characters.
    EXPECT_EQ(0u, suffix % CJK_BYTES) << name;
    EXPECT_EQ(target.substr(dir.Path().size() + 1, suffix), name.substr(0, suffix));
}

TEST(ImageFileWrites, WritesThroughALinkKeepTheLinkAndTheMode)
{
    for (const char* ext : WRITTEN_EXTENSIONS)
    {
        TTempDir dir;
        const std::string real = dir.File((std::string("real.") + ext).c_str());
        const std::string link = dir.File((std::string("link.") + ext).c_str());
        ASSERT_EQ(1, Write(real)) << ext;
        ASSERT_EQ(0, chmod(real.c_str(), PRIVATE_MODE));
        ASSERT_EQ(0, symlink(real.c_str(), link.c_str()));
        EXPECT_EQ(1, Write(link)) << ext;
        struct stat st;
        ASSERT_EQ(0, lstat(link.c_str(), &st));
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << ext;
        ASSERT_EQ(0, stat(real.c_str(), &st));
        EXPECT_EQ(PRIVATE_MODE, st.st_mode & 07777) << ext;
        EXPECT_EQ(2u, EntriesIn(dir.Path())) << ext;
        // A dangling link: the file appears where it points.
        const std::string dangling = dir.File((std::string("dangling.") + ext).c_str());
        ASSERT_EQ(0, symlink("later", dangling.c_str()));
        EXPECT_EQ(1, Write(dangling)) << ext;
        EXPECT_TRUE(lstat(dangling.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << ext;
        EXPECT_EQ(0, lstat(dir.File("later").c_str(), &st)) << ext;
    }
}

TEST(ImageFileWrites, LibraryFormatsAreWrittenWholeAndAlwaysTheSame)
{
    TTempDir dir;
    SImageSaveOptions options;
    for (const auto& f : LIBRARY_FILES)
    {
        u32 w = 0, h = 0;
        ASSERT_EQ(2, sscanf(f.name, "%ux%u", &w, &h));
        EXPECT_EQ(1, EncodeImageFile(dir.File(f.name).c_str(), Grey(w, h), options, false)) << f.name;
        const std::vector<u8> first = Contents(dir.File(f.name));
        EXPECT_TRUE(f.bytes == 0 || f.bytes == first.size()) << f.name << " " << first.size();
        EXPECT_EQ(1, EncodeImageFile(dir.File(f.name).c_str(), Grey(w, h), options, false)) << f.name;
        EXPECT_EQ(first, Contents(dir.File(f.name))) << f.name;
        SImage2D back;
        ASSERT_EQ(1, DecodeImageFile(dir.File(f.name).c_str(), back)) << f.name;
        ASSERT_EQ(w * h, back.Width * back.Height) << f.name;
        for (u32 i = 0; i < w * h; ++i)
            for (u32 shift = 0; shift < 32; shift += 8)
                ASSERT_NEAR(OPAQUE_GREY >> shift & 0xFF, back.Pixels[i] >> shift & 0xFF, f.tolerance) << f.name << " " << i;
    }
    // A TGA of 32-bit pixels: origin 0, 8 alpha bits, a footer ending in its NUL.
    const std::vector<u8> tga = Contents(dir.File("8x8.tga"));
    ASSERT_GT(tga.size(), sizeof(TGA_FOOTER_END));
    EXPECT_EQ(std::vector<u8>(4, 0), std::vector<u8>(tga.begin() + TGA_ORIGIN_AT, tga.begin() + TGA_ORIGIN_AT + 4));
    EXPECT_EQ(TGA_ALPHA_BITS, tga[TGA_DESCRIPTOR_AT] & 0x0Fu);
    EXPECT_EQ(0, memcmp(tga.data() + tga.size() - sizeof(TGA_FOOTER_END), TGA_FOOTER_END, sizeof(TGA_FOOTER_END)));
}

TEST(ImageFileWrites, FilesThatMayNotBeWrittenInPlaceOrThroughAProtectedLinkAreLeftAsTheyAre)
{
    const struct
    {
        const char* label;
        mode_t mode;
        bool othersFile; // another user's file in a folder everyone may write to
        bool othersLink; // reached by root through another user's link in such a folder, sticky
        bool toFolder;   // that link points at the file's folder, on the way to the file
        EWriteTarget target;
        int error;
    } cases[] = {{"own read-only", READ_ONLY_MODE, false, false, false, WRITE_Replace, EACCES},
                 {"own unreadable", NO_ACCESS_MODE, false, false, false, WRITE_Replace, EACCES},
                 {"a name taken, for a new file only", PRIVATE_MODE, false, false, false, WRITE_NewOnly, EEXIST},
                 {"another user's read-only", READ_ONLY_MODE, true, false, false, WRITE_Replace, EACCES},
                 {"another user's link", PRIVATE_MODE, true, true, false, WRITE_Replace, EACCES},
                 {"another user's link to the folder", PRIVATE_MODE, true, true, true, WRITE_Replace, EACCES}};
    std::string needRoot;
    for (const auto& c : cases)
    {
        // Only root can give a file or a link to another user.
        if (c.othersFile && geteuid() != 0)
        {
            needRoot += std::string(needRoot.empty() ? "" : ", ") + c.label;
            continue;
        }
        TTempDir dir;
        ASSERT_EQ(0, chmod(dir.Path().c_str(), c.othersLink ? STICKY_SHARED_MODE : SHARED_MODE));
        const std::string path = dir.File("kept.png"), link = dir.File(c.toFolder ? "jobdir" : "link.png");
        const auto make = [&] { return Write(path) == 1 ? 0 : 1; };
        ASSERT_EQ(0, c.othersFile ? make() : RunAsOrdinaryUser(make)) << c.label;
        ASSERT_EQ(0, chmod(path.c_str(), c.mode));
        struct stat was, st;
        ASSERT_EQ(0, stat(path.c_str(), &was));
        ASSERT_TRUE(!c.othersLink || (symlink(c.toFolder ? dir.Path().c_str() : path.c_str(), link.c_str()) == 0 &&
                                      lchown(link.c_str(), OTHER_USER, OTHER_USER) == 0));
        const std::string name = !c.othersLink ? path : c.toFolder ? link + "/kept.png" : link;
        const auto write = [&] { return SaveImage(name.c_str(), Grey(), c.target) ? 0 : errno; };
        EXPECT_EQ(c.error, c.othersLink ? write() : RunAsOrdinaryUser(write)) << c.label;
        ASSERT_EQ(0, stat(path.c_str(), &st));
        EXPECT_TRUE(st.st_ino == was.st_ino && st.st_uid == was.st_uid && st.st_mode == was.st_mode &&
                    st.st_mtim.tv_nsec == was.st_mtim.tv_nsec) << c.label << ": not the same file as it was";
        EXPECT_EQ(c.othersLink ? 2u : 1u, EntriesIn(dir.Path())) << c.label;
    }
    if (!needRoot.empty())
        GTEST_SKIP() << "only root can give a file or a link to another user: not tried: " << needRoot;
}

TEST(ImageFileWrites, ARunEndedByASignalLeavesNoTemporaryFile)
{
    // 0: no signal is sent; the file-size limit stops the write, which fails with its reason.
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, 0})
    {
        TTempDir dir;
        const std::string target = dir.File("big.png");
        ASSERT_TRUE(WriteTextFile(target.c_str(), OLD_CONTENT));
        ASSERT_EQ(0, chmod(target.c_str(), PRIVATE_MODE));
        const pid_t child = fork();
        if (child == 0)
        {
            alarm(ORDINARY_USER_SECONDS);
            // As a program started from a shell that ignores some of them would not be.
            for (int reset : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGXFSZ})
                signal(reset, SIG_DFL);
            umask(SHARED_UMASK);
            const struct rlimit noCore = {0, 0}, sizeLimit = {SIGNALLED_WRITE_BYTES / 2, RLIM_INFINITY};
            setrlimit(RLIMIT_CORE, &noCore);
            if (sig == 0)
                setrlimit(RLIMIT_FSIZE, &sizeLimit);
            TPodArray<u8> big;
            big.Resize(SIGNALLED_WRITE_BYTES);
            memset(big.data, 'x', big.count);
            for (;;)
                if (!WriteArrayToBinaryFile(target.c_str(), big))
                    _exit(errno == EFBIG ? 0 : 1);
        }
        // The signal comes while a temporary file is being written, which none but its owner
        // may open, as the file it replaces.
        struct stat temp = {};
        for (u32 ms = 0; sig && !temp.st_ino && ms++ < ORDINARY_USER_SECONDS * 1000; usleep(1000))
            for (SFileFind find(dir.Path().c_str()); find.IsValid(); find.Next())
                if (strstr(find.GetName().Str(), ".tmp") && stat(dir.File(find.GetName().Str()).c_str(), &temp) != 0)
                    temp.st_ino = 0;
        EXPECT_TRUE(!sig || (temp.st_ino && (temp.st_mode & 07777) == PRIVATE_MODE)) << sig << " " << temp.st_mode;
        EXPECT_TRUE(!sig || kill(child, sig) == 0);
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(sig ? WIFSIGNALED(status) && WTERMSIG(status) == sig : WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << sig << " " << status;
        EXPECT_EQ(0u, EntriesIn(dir.Path(), ".tmp")) << sig;
        TString kept;
        EXPECT_TRUE(sig || (ReadTextFile(target.c_str(), kept) && kept == OLD_CONTENT)) << kept.Str();
    }
}

TEST(ImageFileWrites, OfWritersRacingForANewNameOneTakesItAndTheOthersAreTold)
{
    TTempDir dir;
    const std::string target = dir.File("once.png");
    int start[2];
    ASSERT_EQ(0, pipe(start));
    pid_t writers[RACING_WRITERS];
    for (u32 i = 0; i < RACING_WRITERS; ++i)
        if ((writers[i] = fork()) == 0)
        {
            alarm(ORDINARY_USER_SECONDS);
            close(start[1]);
            // All start at once, when the parent closes its end.
            char go;
            (void)!read(start[0], &go, 1);
            TPodArray<u8> bytes;
            bytes.Resize(RACING_WRITE_BYTES);
            memset(bytes.data, (int)('a' + i), bytes.count);
            _exit(WriteArrayToBinaryFile(target.c_str(), bytes, WRITE_NewOnly) ? 0 : errno == EEXIST ? 1 : 2);
        }
    close(start[0]);
    close(start[1]);
    std::string outcomes; // per writer: '0' took the name, '1' was told it exists
    for (pid_t writer : writers)
    {
        int status = -1;
        EXPECT_EQ(writer, waitpid(writer, &status, 0));
        outcomes += WIFEXITED(status) ? (char)('0' + WEXITSTATUS(status)) : '?';
    }
    const size_t winner = outcomes.find('0');
    ASSERT_NE(std::string::npos, winner) << outcomes;
    ASSERT_EQ(std::string(RACING_WRITERS, '1').replace(winner, 1, "0"), outcomes);
    const std::vector<u8> kept = Contents(target);
    EXPECT_TRUE(kept.size() == RACING_WRITE_BYTES && kept.front() == 'a' + winner && kept.back() == 'a' + winner);
    EXPECT_EQ(1u, EntriesIn(dir.Path()));
}
