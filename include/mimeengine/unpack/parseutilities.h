// CParseUtilities: header text tools (unfolding, comments, options, quoted values) and
// the line model shared by the parser: lines are read in text mode with the limit 2047
// (at most 2046 characters, line end included) into the two 2048-byte buffers of a line
// pair, exchanged through SwitchPointers.
#pragma once

#include "mimeengine/export.h"
#include "mimeengine/platform/afx.h"

class CWfxFile;

enum _UNFOLD_RC : unsigned int
{
    UNFOLD_TOO_LONG = 0,
    UNFOLD_NEXT_LINE = 1,
    UNFOLD_END_OF_FILE = 2,
    UNFOLD_NOT_RUN = 3
};

enum
{
    LINE_BUFFER_SIZE = 2048, // each buffer of the line pair
    LINE_READ_LIMIT = 2047   // nMax of ReadString: 2046 characters and the NUL
};

class MIMEENGINE_API CParseUtilities
{
public:
    // Joins every continuation line that follows line (2048 bytes) onto it; readAhead
    // (2048 bytes) receives the next line. Continuation lines are also written to copy.
    _UNFOLD_RC UnfoldString(char* line, char* readAhead, CWfxFile& file, CStdioFile* copy);
    void SwitchPointers(char*& a, char*& b);
    // Puts text without its (comments) into result; 0 when a comment is not closed.
    int FilterData(char* text, CString& result);
    // Splits text into options (mode non-zero: at ";", 0: at spaces up to a ">").
    // Returns a new list that the caller deletes, or null for an empty text.
    CStringList* ExtractOptions(CString text, int mode);
    // The trimmed text from start on, without one pair of enclosing double quotes.
    void ExtractStringOrQuotedString(const CString& text, int start, CString& value, int* quoted = nullptr);
    // Value of option name= into buffer: its length, 0 when absent, -1 when it does not fit.
    int GetParameterData(CStringList* list, const char* name, char* buffer, int size, int* quoted = nullptr);
};
