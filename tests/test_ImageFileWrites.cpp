// Image files written in every format the program writes go through one temporary-file path:
// names up to the file system's limit are written, and a write through a symbolic link keeps the
// link and the old file's mode.
#include "TestSupport.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "GameFileIO.h"
#include "GameImage.h"
#include "GameImageFile.h"

namespace
{
const u32 SIDE = 8;
const u32 OPAQUE_GREY = 0xFF808080u;
const char* const WRITTEN_EXTENSIONS[] = {"png", "jpg", "dds"};
// One CJK character is three bytes in UTF-8.
const char* const CJK_CHARACTER = "\xE7\x95\x8C";
const u32 CJK_BYTES = 3;
const mode_t PRIVATE_MODE = 0600;

SImage2D Grey()
{
    SImage2D img(SIDE, SIDE);
    for (u32 i = 0; i < SIDE * SIDE; ++i)
        img.Pixels[i] = OPAQUE_GREY;
    return img;
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

u32 EntriesIn(const std::string& folder)
{
    u32 n = 0;
    for (SFileFind find(folder.c_str()); find.IsValid(); find.Next())
        if (find.GetName() != "." && find.GetName() != "..")
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
    }
}
