// The current document path: the document being loaded or last saved. Nodes that read files
// resolve and store their names relative to its folder.
#pragma once

#include "GString.h"

const TString& CurrentDocumentPath();
void SetCurrentDocumentPath(const TString& path);
