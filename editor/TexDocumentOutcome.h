// The outcome of a loaded and processed document, as a batch run's exit code and a job's reply
// tell it.
#pragma once

#include "GString.h"

class STexProcessor;
class TString;

// Exit codes of a batch run beyond success.
static const int BATCH_EXIT_LOAD_FAILED = 1;
static const int BATCH_EXIT_OUTPUT_FAILED = 2;
// The exit code of a batch run: BATCH_EXIT_LOAD_FAILED when the document did not load,
// BATCH_EXIT_OUTPUT_FAILED when a node of one of the classes (null-ended) failed its processing
// (each failure named on standard error), else 0. Without classes, the file-writing classes of
// the ordered list. With failure, the failures are told there (a job's words, "; " between them)
// instead of on standard error.
int BatchExitCode(int loaded, const STexProcessor& p, const char* const* outputClasses, TString* failure = nullptr);
int BatchExitCode(int loaded, const STexProcessor& p, TString* failure = nullptr);

// Why the document at path did not load, in words: the load's budget, what the system says of
// the file (missing, a folder, not readable), or, for a file that reads, that it is no valid
// document (its boxes told what was wrong).
TString DocumentLoadFailure(const char* path);

// Names on standard output every file the image autosave nodes of the processed graph (and of the
// sub-graphs inside it) wrote, one line each, or says that none was written; the count.
u32 ReportWrittenFiles(const STexProcessor& p);
