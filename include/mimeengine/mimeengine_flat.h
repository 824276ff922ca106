/* The flat interface of the mimeengine library, for callers without objects (C or C++).
 * Content types, encodings and BOOL values are plain 32-bit integers here; their values
 * are those of CMIMEPart::_CONTENT_TYPE and CMIMEPart::_ENCODE_TYPE. */
#ifndef MIMEENGINE_FLAT_H
#define MIMEENGINE_FLAT_H

#include <stddef.h>

#include "mimeengine/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Base64 and RFC 2047 "B" encoded words on NUL-terminated strings. */
MIMEENGINE_API void EncodeBase64String(char* source, char* destination);
MIMEENGINE_API void DecodeBase64Line(char* source, char* destination);
MIMEENGINE_API void DecodeBase64String(char* source, char* destination);

/* The same with the size of destination in bytes: the result is cut so that it and its
 * NUL fit; a size of 0 writes nothing. The two-argument forms assume a large enough buffer. */
MIMEENGINE_API void EncodeBase64StringN(const char* source, char* destination, size_t destinationSize);
MIMEENGINE_API void DecodeBase64LineN(const char* source, char* destination, size_t destinationSize);
MIMEENGINE_API void DecodeBase64StringN(const char* source, char* destination, size_t destinationSize);

#ifdef __cplusplus
}
#endif

#endif
