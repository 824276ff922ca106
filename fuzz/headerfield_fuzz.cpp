// Each content header field parser through ParseHeaderField, on a header work file of one
// field: the first byte picks the field name put before the rest of the input, which may
// itself go on over folded and further lines.
#include "fuzz/fuzzfile.h"
#include "mimeengine/unpack/unpacker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const char* const kNames[] = {
        "Content-Type:", "Content-Transfer-Encoding:", "Content-Disposition:", "Content-Name:",
        "Content-Id:",   "Content-Description:",       "content-type: ",       ""};
    if (size == 0)
        return 0;
    const std::string path = fuzzfile::Write("field.HDR", kNames[data[0] % 8] + std::string(data + 1, data + size));
    CWfxFile file(CString(path.c_str()), CFile::modeRead, FALSE, TRUE);
    if (!file.IsOpen())
        abort();
    fuzzfile::LinePair pair;
    std::vector<char> value(LINE_BUFFER_SIZE);
    CUnpacker unpacker;
    COutputBlock block;
    // The loop of the header reader: a parser that unfolded its field has already moved
    // the read-ahead line into the current line.
    char* got = file.ReadString(pair.line, LINE_READ_LIMIT);
    while (got != nullptr)
    {
        _UNFOLD_RC unfold = UNFOLD_NOT_RUN;
        if (unpacker.ParseHeaderField(&pair.line, &pair.readAhead, file, &unfold, value.data(), &block) != 0 ||
            unfold == UNFOLD_END_OF_FILE)
            break;
        if (unfold == UNFOLD_NOT_RUN)
            got = file.ReadString(pair.line, LINE_READ_LIMIT);
    }
    return 0;
}
