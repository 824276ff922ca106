// Byte-level decoding steps shared by the body decoders and the uuencode scan.
#pragma once

#include "mimeengine/engine/rc.h"
#include "mimeengine/platform/afx.h"

// Decodes the escape at p (an "=" inside a line): 3 and one byte written to output for
// two upper-case hexadecimal digits, 2 for a soft line break ("\n"), 1 for the end of the
// text, 0 for anything else (nothing written).
int DecodeQPEscape(const char* p, CFile* output);

// Decodes four base64 characters into result (up to three bytes). FALSE when the first or
// second character is not in the alphabet.
BOOL DecodeBase64Group(const char* four, unsigned char* result);

// Decodes one uuencoded line in place (the buffer holds at least 80 bytes) and writes its
// bytes: CME_SUCCESS, CME_UU_EMPTY_LINE (nothing written) or CME_UU_CHECKSUM (bytes written).
_CME_RC DecodeUULine(char* line, CFile* output);
// The same into buffer + *count (room for 64 bytes there), adding to *count: 1 decoded
// (also an empty line), 0 on a check character mismatch (the bytes are appended).
int DecodeUULineToBuffer(char* line, unsigned char* buffer, unsigned long* count);
