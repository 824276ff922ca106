/* The flat interface of the mimeengine library, for callers without objects (C or C++).
 * Content types, encodings and BOOL values are plain 32-bit integers here; their values
 * are those of CMIMEPart::_CONTENT_TYPE and CMIMEPart::_ENCODE_TYPE. */
#ifndef MIMEENGINE_FLAT_H
#define MIMEENGINE_FLAT_H

#include "mimeengine/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Base64 and RFC 2047 "B" encoded words on NUL-terminated strings. */
MIMEENGINE_API void EncodeBase64String(char* source, char* destination);
MIMEENGINE_API void DecodeBase64Line(char* source, char* destination);
MIMEENGINE_API void DecodeBase64String(char* source, char* destination);

#ifdef __cplusplus
}
#endif

#endif
