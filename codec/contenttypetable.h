// Internal part of the content type map: the built-in extension table on its own.
#pragma once

#include "mimeengine/model/block.h"

// Sets content type, subtype and encoding of block from the built-in table for the
// extension of fileName, or APPLICATION/octet-stream in base64 when no row matches. Never
// consults the MIME database and never yields a composite type.
void DeriveContentTypeFromTable(const char* fileName, CBlock* block);
