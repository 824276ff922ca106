// Content type map: file extension to content type, and content type to file extension,
// through the MIME database first and a built-in table after it.
#pragma once

#include "mimeengine/model/block.h"

class MIMEENGINE_API CContentTypeMap
{
public:
    // Sets the block's content type, subtype and encoding from the extension of fileName.
    // Never leaves the type CONTENT_UNKNOWN. Always TRUE.
    BOOL DeriveContentType(const char* fileName, CBlock* block) const;
    // Gives an untyped parsed block a type from its suggested name, and appends an extension
    // for its type to a suggested name that has none. Always TRUE.
    BOOL DeriveFileExtension(COutputBlock* block) const;
};

MIMEENGINE_API BOOL DeriveContentType(const char* fileName, CBlock* block);
MIMEENGINE_API BOOL DeriveFileExtension(COutputBlock* block);
