// Unsaved edits kept in a recovery file where nobody can be asked about them: before a job
// replaces the edited graph, and when Exit or a client's quit message ends a program that nobody
// watches.
#pragma once

#include "GString.h"

// Where unsaved edits go: beside the edited document, or beside the job's document when the graph
// was never saved.
TString RecoveryPath(const TString& edited, const TString& job);
// Writes GProcessor's graph to RecoveryPath(its file name, untitledBeside) and leaves it as the
// same unsaved document; 1 on success. The outcome is printed on the console, named by operation.
int KeepUnsavedEdits(const char* operation, const TString& untitledBeside);
// Keeps unsaved edits without asking anyone: beside the document, or in the working folder for a
// graph never saved. True also when there is nothing to keep; false when they could not be kept.
bool KeepEditsUnasked(const char* operation);
