// Charset vocabulary and the library's default charset.
#pragma once

#include "mimeengine/model/mimepart.h"
#include "mimeengine/platform/types.h"

// Default charset (64 bytes, "US-ASCII" until start-up) and the needs-encoding flag.
extern char g_szDefaultCharset[64];
extern BOOL g_bNeedsEncoding;

// Puts the default charset for codePage into buffer (64 bytes) and sets the
// needs-encoding flag; a null buffer does nothing.
void SelectDefaultCharset(unsigned int codePage, char* buffer);

// The char type of a charset value: the longest table name the value begins with,
// ignoring case. "iso-8859-" takes the one digit after it (1-9), else CHAR_UNKNOWN.
// *recognised is FALSE when no name of the table matches.
CMIMEPart::_CHAR_TYPE LookupCharType(const char* value, BOOL* recognised, BOOL* invalidIso);
