// The decoders' direct view of a CStdioFile's read buffer, kept out of the exported class.
#pragma once

#include "mimeengine/platform/cfile.h"

#include <cstddef>

namespace platform
{

struct StdioBuffer
{
    // Whole lines straight from the read buffer, for decoders that take many lines at a
    // time: the unread bytes up to and including the last LF in the buffer (filled first
    // when empty), as raw bytes (a CR LF is still two bytes). Null, with *pLength 0, when
    // the buffered bytes hold no LF; ReadString then goes on across the next fill.
    static const char* PeekBufferedLines(CStdioFile& file, size_t* pLength);
    // Consumes nCount bytes of what PeekBufferedLines returned, as reading them would.
    static void SkipBuffered(CStdioFile& file, size_t nCount);
};

} // namespace platform
