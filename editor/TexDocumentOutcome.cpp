// Whether a processed document did what a batch run or a job asked: loaded, and every
// file-writing node wrote its file.
#include "TexDocumentOutcome.h"

#include <stdio.h>

#include "GameTexture.h"
#include "TexNodeList.h"
#include "TexProcessor.h"

namespace
{
const u64 BYTES_PER_MIB = 1u << 20;
#define TEX_OUTPUT_CLASS_NAME(T) #T,
const char* const FILE_OUTPUT_CLASSES[] = {TEX_NODE_FILE_OUTPUT_CLASSES(TEX_OUTPUT_CLASS_NAME) nullptr};
#undef TEX_OUTPUT_CLASS_NAME
} // namespace

// Reports every failed file-writing node of the graph and of the sub-graphs inside it; true when
// there was one.
static bool ReportFailedOutputs(const STexProcessor& p, const char* const* outputClasses, const TString& where)
{
    bool failed = false;
    for (u32 i = 0; i < p.Nodes.Count(); ++i)
    {
        const STexProcNode* node = p.Nodes[i];
        if (const STexProcessor* inner = node->InnerGraph())
        {
            TString inside = where;
            inside += node->NName;
            inside += " > ";
            failed |= ReportFailedOutputs(*inner, outputClasses, inside);
        }
        if (!node->SourceFailure().IsEmpty())
            fprintf(stderr, "Batch run: node %s%u (%s, \"%s\"): %s\n", where.Str(), i,
                    node->ClassInfo ? node->ClassInfo->Name : "?", node->NName.Str(), node->SourceFailure().Str());
        if (!node->ClassInfo || node->Status.IsEmpty())
            continue;
        for (const char* const* c = outputClasses; c && *c; ++c)
            if (gStrEqual(node->ClassInfo->Name, *c))
            {
                fprintf(stderr, "Batch run: node %s%u (%s, \"%s\") failed: %s\n", where.Str(), i, *c,
                        node->NName.Str(), node->Status.Str());
                failed = true;
            }
    }
    return failed;
}

int BatchExitCode(int loaded, const STexProcessor& p, const char* const* outputClasses)
{
    if (!loaded)
        return BATCH_EXIT_LOAD_FAILED;
    bool failed = ReportFailedOutputs(p, outputClasses, TString());
    if (p.TexturesRefused)
    {
        fprintf(stderr, "Batch run: \"%s\" needed more texture memory at once than the budget of %llu MiB\n",
                p.FileName.Str(), (unsigned long long)(TEX_MemoryBudget() / BYTES_PER_MIB));
        failed = true;
    }
    return failed ? BATCH_EXIT_OUTPUT_FAILED : 0;
}

int BatchExitCode(int loaded, const STexProcessor& p)
{
    return BatchExitCode(loaded, p, FILE_OUTPUT_CLASSES);
}
