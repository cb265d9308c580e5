#include "GameImageFile.h"

#include <IL/il.h>
#include <IL/ilu.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "GameFileIO.h"
#include "GameImageDecoder.h"
#include "GameTexture.h"

void SImageSaveOptions::Apply() const
{
    InitImageLibrary();
    ilSetInteger(IL_JPG_QUALITY, JpgQuality);
    ilSetInteger(IL_DXTC_FORMAT, DxtFormat);
    // This library version writes run-length TGA files with broken packets: TGA stays
    // uncompressed so that no picture is lost.
    ilSetInteger(IL_TGA_RLE, IL_FALSE);
    ilSetInteger(IL_BMP_RLE, RunLength ? IL_TRUE : IL_FALSE);
    // This library version has no progressive JPEG and reports the option as an error; clear
    // it so that it is not taken for a failure of the next call.
    ilSetInteger(IL_JPG_PROGRESSIVE, JpgProgressive);
    while (ilGetError() != IL_NO_ERROR)
    {
    }
}

static void ClearILErrors()
{
    for (int i = 0; i < 64 && ilGetError() != IL_NO_ERROR; ++i)
    {
    }
}

static void PrintILError(const char* what, const char* name)
{
    ILenum err = ilGetError();
    const char* text = err != IL_NO_ERROR ? iluErrorString(err) : "unknown error";
    printf("[DevIL Error] %s \"%s\": %s\n", what, name ? name : "", text ? text : "unknown error");
    fflush(stdout);
    ClearILErrors();
}

int DecodeImageFile(const char* name, SImage2D& image)
{
    if (!name)
        return 0;
    TPodArray<u8> bytes;
    if (!ReadArrayFromBinaryFile(name, bytes))
        return 0;
    return DecodeImageBytes(bytes.data, bytes.count, name, image);
}

int DecodeImageBytes(const u8* data, u64 size, const char* name, SImage2D& image)
{
    if (!name)
        name = "";
    // The content decides the decoder: only what the probe recognises, with a size it checked,
    // reaches a decoder at all.
    SImageProbe probe;
    TString reason;
    if (!ProbeImageFile(data, size, name, probe, reason))
    {
        fprintf(stderr, "DecodeImageFile: \"%s\" not loaded: %s\n", name, reason.Str());
        return -1;
    }
    if (probe.Type == IFT_PNG)
    {
        if (size <= 0xFFFFFFFFu && DecodePNG(data, (u32)size, image, &reason) > 0)
            return 1;
        fprintf(stderr, "DecodeImageFile: \"%s\" not loaded: %s\n", name, reason.Str());
        return -1;
    }
    return DecodeImageProtected(data, size, probe, name, image);
}

// The library writes the picture into a memory file, so that its bytes reach the disk through
// the same temporary-file path as every other write (links followed, the old file's mode kept).
static bool SaveWithLibrary(ILenum type, TPodArray<u8>& bytes)
{
    const int fd = memfd_create("plumweave-save", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    FILE* f = fdopen(fd, "w+b");
    if (!f)
    {
        close(fd);
        return false;
    }
    bool ok = ilSaveF(type, f) != 0 && fflush(f) == 0;
    struct stat st;
    if (ok)
        ok = fstat(fd, &st) == 0 && st.st_size > 0 && (u64)st.st_size <= TEMPLATE_MAX_COUNT &&
             bytes.Resize((u32)st.st_size);
    for (u64 at = 0; ok && at < bytes.Count();)
    {
        const ssize_t n = pread(fd, bytes.data + at, bytes.Count() - at, (off_t)at);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        at += ok ? (u64)n : 0;
    }
    fclose(f);
    return ok;
}

int EncodeImageFile(const char* name, const SImage2D& image, const SImageSaveOptions& options, bool flip)
{
    if (!name || image.Width == 0 || image.Height == 0 || image.Pixels.count < (u64)image.Width * image.Height)
        return 0;
    InitImageLibrary();
    options.Apply();
    ClearILErrors();
    ILenum type = ilTypeFromExt(name);
    if (type == IL_TYPE_UNKNOWN)
    {
        fprintf(stderr, "SaveImageFile: \"%s\" not written: no image type for its extension\n", name);
        return 0;
    }
    ILuint img = ilGenImage();
    ilBindImage(img);
    int result = 0;
    // The library's lower-left origin matches the rows of a GL read-back.
    if (ilTexImage(image.Width, image.Height, 1, 4, IL_RGBA, IL_UNSIGNED_BYTE, (void*)image.Pixels.data))
    {
        if (flip)
            iluFlipImage();
        TPodArray<u8> bytes;
        if (!SaveWithLibrary(type, bytes))
            PrintILError("Cannot save", name);
        else
        {
            errno = 0;
            if (WriteArrayToBinaryFile(name, bytes))
                result = 1;
            else
                fprintf(stderr, "SaveImageFile: \"%s\" not written: %s\n", name,
                        errno ? strerror(errno) : "the file cannot be written");
        }
    }
    ilBindImage(0);
    ilDeleteImage(img);
    ClearILErrors();
    return result;
}

static bool StartsWithPngSignature(const char* name)
{
    FILE* f = gSysFOpen(name, FILE_Read | FILE_Binary);
    if (!f)
        return false;
    u8 head[sizeof(PNG_FILE_SIGNATURE)];
    const bool png = fread(head, 1, sizeof(head), f) == sizeof(head) && memcmp(head, PNG_FILE_SIGNATURE, sizeof(head)) == 0;
    fclose(f);
    return png;
}

int LoadImageFile(TextureRef& ref, const char* name)
{
    if (!name)
        return 0;
    // The content decides, not the name: a PNG goes to the texture manager by its signature.
    if (StartsWithPngSignature(name))
        return TEX_Get(ref, name, TEXF_RGBA8 | TEXF_NodeOutput);
    SImage2D image;
    if (DecodeImageFile(name, image) <= 0)
        return 0;
    return TEX_Create(ref, image.Width, image.Height, 1, 1, TEXFMT_RGBA8, image.Pixels.data, TEXF_NodeOutput);
}

int SaveImageFile(STexture* tex, const char* name, const SImageSaveOptions& options, bool flip)
{
    if (!name)
        return 0;
    if (ImageTypeFromExtension(name) == IMG_PNG)
    {
        errno = 0;
        const int saved = TEX_SaveToFile(tex, name, !flip);
        if (!saved)
            fprintf(stderr, "SaveImageFile: \"%s\" not written: %s\n", name,
                    errno ? strerror(errno) : "the picture cannot be read back or encoded");
        return saved;
    }
    SImage2D image;
    if (!TEX_ReadPixels(tex, image))
        return 0;
    return EncodeImageFile(name, image, options, flip);
}
