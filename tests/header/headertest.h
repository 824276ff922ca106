// Helpers of the header parsing tests: line-end variants of text fixtures, the line pair
// and files opened the way the parser opens them.
#pragma once

#include "mimeengine/extract/wfxfile.h"
#include "mimeengine/unpack/parseutilities.h"
#include "support/testsupport.h"

#include <memory>
#include <string>
#include <vector>

namespace headertest
{

// Every text fixture is run with LF and with CR LF line ends.
enum class LineEnds
{
    LF,
    CRLF
};

inline std::string ToLineEnds(const std::string& lf, LineEnds ends)
{
    if (ends == LineEnds::LF)
        return lf;
    std::string out;
    for (char c : lf)
    {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

inline std::string LineEndsName(LineEnds ends)
{
    return ends == LineEnds::LF ? "LF" : "CRLF";
}

// The two 2048-byte buffers of the parser, exchanged through their pointers.
struct LinePair
{
    std::vector<char> first = std::vector<char>(LINE_BUFFER_SIZE, '\0');
    std::vector<char> second = std::vector<char>(LINE_BUFFER_SIZE, '\0');
    char* line = first.data();
    char* ahead = second.data();
};

// The file opened for reading in text mode, as the parser reads messages.
inline std::unique_ptr<CWfxFile> OpenForReading(const std::string& path)
{
    return std::make_unique<CWfxFile>(CString(path.c_str()), CFile::modeRead, FALSE, TRUE);
}

// Writes bytes to name in dir and opens it for reading.
inline std::unique_ptr<CWfxFile> TextFile(const testsupport::ScratchDir& dir, const std::string& name,
                                          const std::string& bytes)
{
    testsupport::WriteFile(dir.file(name), bytes);
    return OpenForReading(dir.file(name));
}

} // namespace headertest
