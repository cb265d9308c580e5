#include "GameImageFile.h"

#include <IL/il.h>
#include <IL/ilu.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
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

int DecodeImageFile(const char* name, SImage2D& image, TString* failure)
{
    if (!name)
        return 0;
    TPodArray<u8> bytes;
    if (!ReadArrayFromBinaryFile(name, bytes))
        return 0;
    return DecodeImageBytes(bytes.data, bytes.count, name, image, failure);
}

int DecodeImageBytes(const u8* data, u64 size, const char* name, SImage2D& image, TString* failure)
{
    if (!name)
        name = "";
    // The content decides the decoder: only what the probe recognises, with a size it checked,
    // reaches a decoder at all.
    SImageProbe probe;
    TString reason;
    if (!ProbeImageFile(data, size, name, probe, reason))
        return DecodeFailed(name, failure, true, "%s", reason.Str());
    if (probe.Type == IFT_PNG)
    {
        if (size <= 0xFFFFFFFFu && DecodePNG(data, (u32)size, image, &reason) > 0)
            return 1;
        return DecodeFailed(name, failure, true, "%s", reason.Str());
    }
    return DecodeImageProtected(data, size, probe, name, image, failure);
}

namespace
{
const u32 FAILURE_TEXT_SIZE = 256;
const u32 TGA_HEADER_SIZE = 18;
const u32 TGA_ORIGIN_AT = 8, TGA_ORIGIN_SIZE = 4;
const u32 TGA_BITS_AT = 16, TGA_DESCRIPTOR_AT = 17;
const u8 TGA_ALPHA_BITS_MASK = 0x0F, TGA_RGBA_BITS = 32, TGA_RGBA_ALPHA_BITS = 8;
const char TGA_SIGNATURE[] = "TRUEVISION-XFILE.";
const u32 TGA_SIGNATURE_LENGTH = sizeof(TGA_SIGNATURE) - 1;
} // namespace

// This library version writes TGA headers with origin fields taken from whatever its memory held
// and no alpha bits declared for 32-bit pixels, and ends the footer one byte short of its NUL:
// every write of one picture must give the same, correct bytes.
static void MendTga(TPodArray<u8>& bytes)
{
    if (bytes.Count() < TGA_HEADER_SIZE)
        return;
    memset(bytes.data + TGA_ORIGIN_AT, 0, TGA_ORIGIN_SIZE);
    u8& descriptor = bytes.data[TGA_DESCRIPTOR_AT];
    if (bytes.data[TGA_BITS_AT] == TGA_RGBA_BITS)
        descriptor = (u8)((descriptor & ~TGA_ALPHA_BITS_MASK) | TGA_RGBA_ALPHA_BITS);
    if (bytes.Count() >= TGA_HEADER_SIZE + TGA_SIGNATURE_LENGTH &&
        memcmp(bytes.data + bytes.Count() - TGA_SIGNATURE_LENGTH, TGA_SIGNATURE, TGA_SIGNATURE_LENGTH) == 0)
        bytes.Add(0);
}

// A stream over bytes in memory for the library to write into, so that the picture reaches the
// disk through the same temporary-file path as every other write (links followed, the old file's
// mode kept), and only that write meets the file-size limit.
struct SMemoryStream
{
    TPodArray<u8>* Bytes;
    u64 At;
    bool OutOfMemory;
};

static ssize_t MemoryStreamWrite(void* cookie, const char* data, size_t size)
{
    SMemoryStream& m = *(SMemoryStream*)cookie;
    const u64 end = m.At + size, had = m.Bytes->Count();
    if (end > TEMPLATE_MAX_COUNT || (end > had && !m.Bytes->Resize((u32)end)))
    {
        m.OutOfMemory = true;
        errno = ENOMEM;
        return -1;
    }
    // A seek past the end leaves a gap of zeros, as in a file.
    if (m.At > had)
        memset(m.Bytes->data + had, 0, m.At - had);
    memcpy(m.Bytes->data + m.At, data, size);
    m.At = end;
    return (ssize_t)size;
}

static int MemoryStreamSeek(void* cookie, off64_t* offset, int whence)
{
    SMemoryStream& m = *(SMemoryStream*)cookie;
    const s64 base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? (s64)m.At : (s64)m.Bytes->Count();
    if (base + *offset < 0)
    {
        errno = EINVAL;
        return -1;
    }
    m.At = (u64)(base + *offset);
    *offset = (off64_t)m.At;
    return 0;
}

// Its result is no guide: it is 0 for whole files of a multiple of 256 bytes. What counts is that
// bytes came out and the library reported no error.
static bool SaveWithLibrary(ILenum type, TPodArray<u8>& bytes, TString& failure)
{
    bytes.Resize(0);
    SMemoryStream stream = {&bytes, 0, false};
    cookie_io_functions_t functions = {nullptr, MemoryStreamWrite, MemoryStreamSeek, nullptr};
    FILE* f = fopencookie(&stream, "w+b", functions);
    if (!f)
    {
        failure.Format(FAILURE_TEXT_SIZE, "memory stream: %s", strerror(errno));
        return false;
    }
    const ILuint written = ilSaveF(type, f);
    const ILenum error = ilGetError();
    const bool flushed = fclose(f) == 0;
    bool ok = false;
    if (stream.OutOfMemory || !flushed)
        failure = "out of memory";
    else if (written == 0 && error != IL_NO_ERROR)
    {
        const char* text = iluErrorString(error);
        failure.Format(FAILURE_TEXT_SIZE, "the image library: %s", text ? text : "unknown error");
    }
    else if (bytes.IsEmpty())
        failure = "the image library wrote nothing";
    else
        ok = true;
    if (ok && type == IL_TGA)
        MendTga(bytes);
    return ok;
}

// The failure goes to failure when given, else to standard error; errno stays as it was.
static int SaveFailed(const char* name, const TString& cause, TString* failure)
{
    const int err = errno;
    if (failure)
        *failure = cause;
    else
        fprintf(stderr, "SaveImageFile: \"%s\" not written: %s\n", LogLineText(name, (u32)strlen(name)).Str(),
                cause.Str());
    errno = err;
    return 0;
}

// The cause of a failed file write, as the file layer left it in errno.
static TString WriteFailure(const char* fallback)
{
    return TString(errno ? strerror(errno) : fallback);
}

int EncodeImageFile(const char* name, const SImage2D& image, const SImageSaveOptions& options, bool flip,
                    TString* failure, EWriteTarget target)
{
    errno = 0;
    if (!name || image.Width == 0 || image.Height == 0 || image.Pixels.count < (u64)image.Width * image.Height)
        return SaveFailed(name ? name : "", "no picture to write", failure);
    InitImageLibrary();
    options.Apply();
    ClearILErrors();
    ILenum type = ilTypeFromExt(name);
    if (type == IL_TYPE_UNKNOWN)
        return SaveFailed(name, "no image type for its extension", failure);
    ILuint img = ilGenImage();
    ilBindImage(img);
    TString cause = "the image library cannot take the picture";
    bool saved = false;
    int writeError = 0;
    // The library's lower-left origin matches the rows of a GL read-back.
    if (ilTexImage(image.Width, image.Height, 1, 4, IL_RGBA, IL_UNSIGNED_BYTE, (void*)image.Pixels.data))
    {
        if (flip)
            iluFlipImage();
        TPodArray<u8> bytes;
        if (SaveWithLibrary(type, bytes, cause))
        {
            errno = 0;
            saved = WriteArrayToBinaryFile(name, bytes, target);
            writeError = saved ? 0 : errno;
            if (!saved)
                cause = WriteFailure("the file cannot be written");
        }
    }
    ilBindImage(0);
    ilDeleteImage(img);
    ClearILErrors();
    errno = writeError;
    return saved ? 1 : SaveFailed(name, cause, failure);
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

// "cannot VERB "NAME": CAUSE" goes to failure when given, else to standard error.
static int LoadFailed(const char* verb, const char* name, const TString& cause, TString* failure)
{
    TString text;
    text.Format(FAILURE_TEXT_SIZE, "cannot %s \"%s\": ", verb, name);
    text += cause;
    if (failure)
        *failure = text;
    else
        fprintf(stderr, "LoadImageFile: %s\n", LogLineText(text.Str(), text.Length()).Str());
    return 0;
}

int LoadImageFile(TextureRef& ref, const char* name, TString* failure)
{
    if (!name)
        name = "";
    const TString refusal = FileReadRefusal(name);
    if (!refusal.IsEmpty())
        return LoadFailed("read", name, refusal, failure);
    // The content decides, not the name: a PNG goes to the texture manager by its signature.
    if (StartsWithPngSignature(name))
    {
        if (TEX_Get(ref, name, TEXF_RGBA8 | TEXF_NodeOutput))
            return 1;
        return LoadFailed("load", name, ref.Obj ? ref.Obj->LoadFailure : TString("no texture"), failure);
    }
    SImage2D image;
    errno = 0;
    TString cause;
    const int decoded = DecodeImageFile(name, image, &cause);
    if (decoded == 0)
        return LoadFailed("read", name, TString(errno ? strerror(errno) : "the read failed"), failure);
    if (decoded < 0)
        return LoadFailed("load", name, cause, failure);
    if (!TEX_Create(ref, image.Width, image.Height, 1, 1, TEXFMT_RGBA8, image.Pixels.data, TEXF_NodeOutput))
        return LoadFailed("load", name, TString("no texture can be made of it"), failure);
    return 1;
}

int SaveImageFile(STexture* tex, const char* name, const SImageSaveOptions& options, bool flip, TString* failure,
                  EWriteTarget target)
{
    if (!name)
        return 0;
    if (ImageTypeFromExtension(name) == IMG_PNG)
    {
        errno = 0;
        if (TEX_SaveToFile(tex, name, !flip, target))
            return 1;
        return SaveFailed(name, WriteFailure("the picture cannot be read back or encoded"), failure);
    }
    SImage2D image;
    errno = 0;
    if (!TEX_ReadPixels(tex, image))
        return SaveFailed(name, "the picture cannot be read back", failure);
    return EncodeImageFile(name, image, options, flip, failure, target);
}
