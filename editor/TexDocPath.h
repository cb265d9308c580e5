// Document paths: the current document (the one being loaded or last saved), whose folder the
// names of file-reading nodes are resolved and stored relative to; and paths the command line and
// clients give, taken from the working folder.
#pragma once

#include "GString.h"

const TString& CurrentDocumentPath();
void SetCurrentDocumentPath(const TString& path);

// A document path of the command line as the file layer takes it: relative names are taken from
// the working folder, not from the data root.
TString AppDocumentPath(const TString& arg);
// The process's working folder with a trailing slash; empty when it cannot be told.
TString AppWorkingFolder();
// arg as it stands when absolute, else taken from folder (which ends with a slash).
TString PathInFolder(const TString& folder, const TString& arg);
