// Unfolding on the line pair: every line of the input is unfolded in turn, as the field
// parsers do, with a copy file receiving the continuation lines.
#include "fuzz/fuzzfile.h"
#include "mimeengine/extract/wfxfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CWfxFile file(CString(fuzzfile::Write("fold.txt", data, size).c_str()), CFile::modeRead, FALSE, TRUE);
    CWfxFile copy(CString((fuzzfile::Directory() + "/copy.txt").c_str()), CFile::modeCreate | CFile::modeWrite, TRUE,
                  TRUE);
    fuzzfile::LinePair pair;
    CParseUtilities utilities;
    if (file.ReadString(pair.line, LINE_READ_LIMIT) == nullptr)
        return 0;
    // After UNFOLD_NEXT_LINE and UNFOLD_TOO_LONG the read-ahead buffer holds an unused line.
    while (utilities.UnfoldString(pair.line, pair.readAhead, file, &copy) != UNFOLD_END_OF_FILE)
        utilities.SwitchPointers(pair.line, pair.readAhead);
    return 0;
}
