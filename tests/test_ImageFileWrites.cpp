// Image files written in every format the program writes go through one temporary-file path:
// names up to the file system's limit are written, and a write through a symbolic link keeps the
// link and the old file's mode.
#include "TestSupport.h"

#include <errno.h>
#include <limits.h>
#include <linux/magic.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <grp.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "GameFileIO.h"
#include "GameImage.h"
#include "GameImageFile.h"
#include "GameSignals.h"
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
// Ids every Debian has: the writer "daemon", its own group "users", a group it may join "staff".
const uid_t WRITER = 1, NOBODY = 65534;
const gid_t WRITERS_GROUP = 100, SHARED_GROUP = 50;
const u32 FAT_IMAGE_MIB = 16;

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
int Write(const std::string& path, EWriteTarget target = WRITE_Replace)
{
    const std::string ext = path.substr(path.size() - 3);
    if (ext == "png")
        return SaveImage(path.c_str(), Grey(), target);
    SImageSaveOptions options;
    return EncodeImageFile(path.c_str(), Grey(), options, false, nullptr, target);
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

// body's result in a child process of the user and groups given (the first is its own group).
int RunAs(uid_t user, const std::vector<gid_t>& groups, const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child == 0)
    {
        alarm(ORDINARY_USER_SECONDS);
        _exit(setgroups(groups.size(), groups.data()) == 0 && setresgid(groups[0], groups[0], groups[0]) == 0 &&
                      setresuid(user, user, user) == 0 ? body() : 255);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
            SysSignalsStartup();
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

TEST(ImageFileWrites, AReplacedFileKeepsItsGroupAndAccessListOrOpensToNoOneNew)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give files to other users and groups";
    const struct
    {
        const char* label;
        uid_t owner;
        gid_t group;
        mode_t mode;
        const char* accessList; // as setfacl takes it
        gid_t keptGroup;
        mode_t keptMode;
    } cases[] = {
        {"another user's file of a group the writer belongs to", NOBODY, SHARED_GROUP, 0660, nullptr, SHARED_GROUP, 0660},
        // The writer's own group may not see more than others could.
        {"a group the writer has left", WRITER, SHARED_GROUP, 0640, nullptr, WRITERS_GROUP, 0600},
        // Last: where the file system takes no access lists, the test ends there.
        {"a user kept out by the access list", WRITER, WRITERS_GROUP, 0644, "u:nobody:---", WRITERS_GROUP, 0644},
    };
    for (const auto& c : cases)
    {
        TTempDir dir;
        const std::string path = dir.File("kept.png");
        ASSERT_EQ(0, chmod(dir.Path().c_str(), SHARED_MODE));
        ASSERT_EQ(1, Write(path)) << c.label;
        ASSERT_TRUE(chown(path.c_str(), c.owner, c.group) == 0 && chmod(path.c_str(), c.mode) == 0);
        const std::string listed = "getfacl -cp '" + path + "' 2>&1";
        int status = -1;
        if (c.accessList && (RunCapture("setfacl -m " + std::string(c.accessList) + " '" + path + "' 2>&1", &status), status != 0))
            GTEST_SKIP() << "this file system takes no access lists (or setfacl of the acl package is missing)";
        const std::string list = RunCapture(listed);
        const bool sharedGroup = c.group == SHARED_GROUP && c.owner != WRITER;
        EXPECT_EQ(0, RunAs(WRITER, sharedGroup ? std::vector<gid_t>{WRITERS_GROUP, SHARED_GROUP} : std::vector<gid_t>{WRITERS_GROUP},
                           [&] { return SaveImage(path.c_str(), Grey()) ? 0 : errno; })) << c.label;
        struct stat st;
        ASSERT_EQ(0, stat(path.c_str(), &st));
        EXPECT_EQ(c.keptGroup, st.st_gid) << c.label;
        EXPECT_EQ(c.keptMode, st.st_mode & 07777) << c.label;
        EXPECT_TRUE(!c.accessList || list == RunCapture(listed)) << c.label << ": " << list;
    }
}

TEST(ImageFileWrites, FileSystemsWithoutModesOrLinksStillTakeEveryWrite)
{
    if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "a FAT file system is mounted through FUSE, which needs root and /dev/fuse";
    TTempDir dir;
    const std::string image = dir.File("fat.img"), mount = dir.File("fat");
    ASSERT_EQ(0, mkdir(mount.c_str(), SHARED_MODE));
    int status = -1;
    RunCapture("PATH=\"$PATH:/usr/sbin:/sbin\"; truncate -s " + std::to_string(FAT_IMAGE_MIB) + "M '" + image + "' && mkfs.vfat '" + image +
                   "' >/dev/null && fusefat -o rw+ '" + image + "' '" + mount + "' 2>&1", &status);
    const std::shared_ptr<void> unmount(nullptr, [&](void*) { RunCapture("umount '" + mount + "' 2>&1"); });
    struct statfs fs;
    if (status != 0 || statfs(mount.c_str(), &fs) != 0 || fs.f_type != FUSE_SUPER_MAGIC)
        GTEST_SKIP() << "fusefat (and mkfs.vfat) could not mount a FAT image here";
    const struct
    {
        const char* name;
        EWriteTarget target;
        bool existing;
        int error;
    } cases[] = {
        {"new.png", WRITE_Replace, false, 0},
        {"replaced.jpg", WRITE_Replace, true, 0},
        {"free name only.dds", WRITE_NewOnly, false, 0},
        {"taken name only.png", WRITE_NewOnly, true, EEXIST},
    };
    for (const auto& c : cases)
    {
        const std::string path = mount + "/" + c.name;
        ASSERT_TRUE(!c.existing || WriteTextFile(path.c_str(), OLD_CONTENT)) << c.name << ": " << strerror(errno);
        errno = 0;
        const bool written = Write(path, c.target) == 1;
        EXPECT_EQ(c.error, written ? 0 : errno) << c.name;
        SImage2D back;
        TString text;
        EXPECT_TRUE(c.error ? ReadTextFile(path.c_str(), text) && text == OLD_CONTENT
                            : DecodeImageFile(path.c_str(), back) == 1 && back.Width == SIDE) << c.name;
    }
    EXPECT_EQ(0u, EntriesIn(mount, ".tmp"));
    EXPECT_EQ(4u, EntriesIn(mount));
}
