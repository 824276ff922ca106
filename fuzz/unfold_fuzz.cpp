// Unfolding on the line pair: every line of the input is unfolded in turn, as the field
// parsers do, with a copy file receiving the continuation lines.
#include "fuzz/fuzzfile.h"
#include "mimeengine/extract/wfxfile.h"
#include "mimeengine/unpack/parseutilities.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzzfile::Write("fold.txt", data, size);
    const std::string copyPath = fuzzfile::Directory() + "/copy.txt";
    CWfxFile file(CString(path.c_str()), CFile::modeRead, FALSE, TRUE);
    CWfxFile copy(CString(copyPath.c_str()), CFile::modeCreate | CFile::modeWrite, TRUE, TRUE);
    std::vector<char> first(LINE_BUFFER_SIZE), second(LINE_BUFFER_SIZE);
    char* line = first.data();
    char* readAhead = second.data();
    CParseUtilities utilities;
    if (file.ReadString(line, LINE_READ_LIMIT) == nullptr)
        return 0;
    // After UNFOLD_NEXT_LINE and UNFOLD_TOO_LONG the read-ahead buffer holds an unused line.
    while (utilities.UnfoldString(line, readAhead, file, &copy) != UNFOLD_END_OF_FILE)
        utilities.SwitchPointers(line, readAhead);
    return 0;
}
