#include "TexDocumentRecovery.h"

#include <string.h>

#include "GameConsole.h"
#include "GameFileIO.h"
#include "TexDocPath.h"
#include "TexProcessor.h"

namespace
{
const char* const DOCUMENT_EXTENSION = ".kvf";
const char* const RECOVERY_SUFFIX = ".recovery.kvf";
const char* const UNSAVED_NAME = "Untitled";
// A name in the working folder: its folder receives the recovery file of a graph never saved.
const char* const UNTITLED_RECOVERY_BESIDE = "Untitled.kvf";
} // namespace

TString RecoveryPath(const TString& edited, const TString& job)
{
    TString base;
    if (!edited.IsEmpty())
    {
        base = edited;
        const u32 ext = (u32)strlen(DOCUMENT_EXTENSION);
        const TString lower = base.ToLower();
        if (lower.Length() >= ext && strcmp(lower.Str() + lower.Length() - ext, DOCUMENT_EXTENSION) == 0)
            base.SetLength(base.Length() - ext);
    }
    else
    {
        base = ExtractFilePath(job);
        base += UNSAVED_NAME;
    }
    base += RECOVERY_SUFFIX;
    return base;
}

int KeepUnsavedEdits(const char* operation, const TString& untitledBeside)
{
    if (!GProcessor)
        return 0;
    const TString editedName = GProcessor->FileName;
    const TString editedDoc = CurrentDocumentPath();
    const TString recovery = RecoveryPath(editedName, untitledBeside);
    if (!GProcessor->SaveDocument(recovery.Str()))
    {
        ConsolePrintf("%s: the unsaved edits could not be kept in \"%s\"", operation, recovery.Str());
        return 0;
    }
    ConsolePrintf("%s: the unsaved edits were kept in \"%s\"", operation, recovery.Str());
    // The graph is still the edited document, unsaved, whatever comes next.
    GProcessor->FileName = editedName;
    GProcessor->Edited = 1;
    SetCurrentDocumentPath(editedDoc);
    return 1;
}

bool KeepEditsUnasked(const char* operation)
{
    if (!GProcessor || !GProcessor->Edited)
        return true;
    return KeepUnsavedEdits(operation, AppDocumentPath(TString(UNTITLED_RECOVERY_BESIDE))) != 0;
}
