// The protected decode of BMP, TGA, JPG and DDS files: the picture decoders (the image library and
// the decoders beside it) run in the decoder program beside the executable (plumweave_imgdec),
// started for each picture with address-space and CPU-time limits, so that a crash or a hang of a
// decoder on a malformed file costs only that picture. The pixels come back through a memory file. One process decodes one picture; the
// next one is started while a picture decodes, so that it is ready when needed.
#pragma once

#include "GString.h"
#include "GameImage.h"
#include "GameImageProbe.h"

// The decoder program's file name, looked for in the running executable's folder.
static const char* const IMAGE_DECODER_PROGRAM = "plumweave_imgdec";
// The descriptor a waiting decoder reads its job line from, and the longest line.
static const int IMAGE_DECODER_JOB_FD = 3;
static const u32 IMAGE_DECODER_JOB_MAX = 4096;
// The decoder's exit code for a picture it refuses, with the reason (at most
// IMAGE_DECODER_REASON_MAX bytes) in place of the pixels.
static const int IMAGE_DECODER_EXIT_REFUSED = 1;
static const u32 IMAGE_DECODER_REASON_MAX = 511;
// How long a decode may take before the decoder is killed: this many seconds of the clock for each
// second of processor time the picture's size allows, since on a loaded machine the decoder gets a
// share of a core.
static const double IMAGE_DECODE_CLOCK_PER_CPU_SECOND = 4.0;

// Decodes the bytes of a file that ProbeImageFile accepted as BMP, TGA, JPG or DDS into image
// (RGBA8, top row first, the probe's size). 1 on success, -1 on failure with the reason as
// DecodeFailed tells it; the calling process survives whatever the bytes hold.
int DecodeImageProtected(const u8* data, u64 size, const SImageProbe& probe, const char* name, SImage2D& image,
                         TString* failure = nullptr);
// Why the file called name did not decode: into failure when given, else on standard error as
// "DecodeImageFile: "NAME" not loaded: WHY" (a refusal of its content) or "DecodeImageFile:
// "NAME": WHY", the name escaped since it may come from a document. Returns -1.
int DecodeFailed(const char* name, TString* failure, bool refused, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Starts the image library in this process (once; later calls do nothing).
void InitImageLibrary();

// Ends the decoder kept ready for the next picture (it also ends by itself with the program).
void StopImageDecoder();
// The decoder program to start; empty restores the default beside the executable.
void SetImageDecoderProgram(const char* path);
TString ImageDecoderProgram();
// Seconds before a decode is given up and its process killed, whatever the picture's size; 0 or
// less restores the default, which grows with the size.
void SetImageDecodeTimeout(double seconds);
// For tests and benchmarks only: decode in this process, unprotected.
void SetImageDecodeInProcess(bool inProcess);
