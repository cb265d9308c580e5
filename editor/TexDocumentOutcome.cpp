// Whether a processed document did what a batch run or a job asked: loaded, and every
// file-writing node wrote its file.
#include "TexDocumentOutcome.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "GString.h"
#include "GameTexture.h"
#include "TexDocument.h"
#include "TexNodeList.h"
#include "TexOps_Basic.h"
#include "TexProcessor.h"

namespace
{
#define TEX_OUTPUT_CLASS_NAME(T) #T,
const char* const FILE_OUTPUT_CLASSES[] = {TEX_NODE_FILE_OUTPUT_CLASSES(TEX_OUTPUT_CLASS_NAME) nullptr};
#undef TEX_OUTPUT_CLASS_NAME
} // namespace

namespace
{
const u32 FAILURES_NAMED = 8; // in a job's failure text; the rest are counted
const u32 FAILURE_TEXT_MAX = 8192; // characters of a failure's subject or cause

// Where a run's failures go: standard error for a batch run, or a job's failure text. Names and
// paths come from documents: a line on standard error shows them escaped, as the job log does a
// job's text, so that none passes for a line of its own.
struct SFailures
{
    TString* Text = nullptr;
    u32 Count = 0; // failures: they fail the run
    u32 Told = 0;  // failures and the causes told beside them

    void Tell(const TString& subject, const TString& cause, bool counted = true)
    {
        Count += counted ? 1 : 0;
        TString entry = subject;
        if (!subject.IsEmpty())
            entry += " ";
        entry += cause;
        if (!Text)
        {
            fprintf(stderr, "Batch run: %s\n", LogLineText(entry.Str(), entry.Length()).Str());
            return;
        }
        if (++Told > FAILURES_NAMED)
            return;
        if (!Text->IsEmpty())
            *Text += "; ";
        *Text += entry;
    }
    // A cause that fails nothing by itself (a source that did not load) is told beside the
    // failures it caused; a job that did what it was asked has no failure text.
    void End()
    {
        if (!Text)
            return;
        if (!Count)
            *Text = TString();
        else if (Told > FAILURES_NAMED)
        {
            TString more;
            more.Format(64, "; and %u more", Told - FAILURES_NAMED);
            *Text += more;
        }
    }
};
} // namespace

// Tells every failed file-writing node of the graph and of the sub-graphs inside it, and every
// source that did not load.
static void ReportFailedOutputs(const STexProcessor& p, const char* const* outputClasses, const TString& where,
                                SFailures& failures)
{
    for (u32 i = 0; i < p.Nodes.Count(); ++i)
    {
        const STexProcNode* node = p.Nodes[i];
        if (const STexProcessor* inner = node->InnerGraph())
        {
            TString inside = where;
            inside += node->NName;
            inside += " > ";
            ReportFailedOutputs(*inner, outputClasses, inside, failures);
        }
        const char* className = node->ClassInfo ? node->ClassInfo->Name : "?";
        TString subject;
        subject.Format(FAILURE_TEXT_MAX, "node %s%u (%s, \"%s\")", where.Str(), i, className, node->NName.Str());
        if (!node->SourceFailure().IsEmpty())
            failures.Tell(subject, node->SourceFailure(), false);
        if (!node->ClassInfo || node->Status.IsEmpty())
            continue;
        for (const char* const* c = outputClasses; c && *c; ++c)
            if (gStrEqual(className, *c))
            {
                TString cause = "failed: ";
                cause += node->Status;
                failures.Tell(subject, cause);
            }
    }
}

static u32 ReportWrittenFilesIn(const STexProcessor& p)
{
    u32 count = 0;
    for (u32 i = 0; i < p.Nodes.Count(); ++i)
    {
        const STexProcNode* node = p.Nodes[i];
        if (const STexProcessor* inner = node->InnerGraph())
            count += ReportWrittenFilesIn(*inner);
        if (!node->ClassInfo || !gStrEqual(node->ClassInfo->Name, STexNode_Extract::ClassRecord()->Name))
            continue;
        const TString& written = static_cast<const STexNode_Extract*>(node)->Written;
        if (written.IsEmpty())
            continue;
        printf("Batch run: wrote \"%s\"\n", LogLineText(written.Str(), written.Length()).Str());
        ++count;
    }
    return count;
}

u32 ReportWrittenFiles(const STexProcessor& p)
{
    const u32 count = ReportWrittenFilesIn(p);
    if (!count)
        printf("Batch run: no file was written (\"%s\" holds no image autosave node that wrote one)\n",
               LogLineText(p.FileName.Str(), p.FileName.Length()).Str());
    fflush(stdout);
    return count;
}

int BatchExitCode(int loaded, const STexProcessor& p, const char* const* outputClasses, TString* failure)
{
    if (!loaded)
        return BATCH_EXIT_LOAD_FAILED;
    SFailures failures;
    failures.Text = failure;
    // The budget first: the nodes it stopped fail for want of their inputs.
    if (p.TexturesRefused)
    {
        TString subject, cause;
        // A job's line names its document already.
        if (!failure)
            subject.Format(FAILURE_TEXT_MAX, "\"%s\"", p.FileName.Str());
        cause = TEX_RefusalReason();
        failures.Tell(subject, cause);
    }
    ReportFailedOutputs(p, outputClasses, TString(), failures);
    failures.End();
    return failures.Count ? BATCH_EXIT_OUTPUT_FAILED : 0;
}

int BatchExitCode(int loaded, const STexProcessor& p, TString* failure)
{
    return BatchExitCode(loaded, p, FILE_OUTPUT_CLASSES, failure);
}

TString DocumentLoadFailure(const char* path)
{
    const EDocBudget spent = DocumentBudgetSpent();
    if (spent != DOC_WithinBudget)
        return DocumentBudgetText(spent);
    struct stat st;
    if (!path || stat(path, &st) != 0)
        return TString(strerror(path ? errno : ENOENT));
    if (S_ISDIR(st.st_mode))
        return TString(strerror(EISDIR));
    if (!S_ISREG(st.st_mode))
        return TString("not a regular file");
    // Opened as the load opens it, so that root, access lists and mounts count as they did there.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return TString(strerror(errno));
    close(fd);
    return TString("not a valid document");
}
