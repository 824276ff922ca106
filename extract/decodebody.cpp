// Choosing the transfer decoder of a leaf body, and the plain text decoder.
#include "mimeengine/extract/boundary.h"
#include "mimeengine/unpack/unpacker.h"

#include <memory>

// Decodes the body that follows the part's header with the decoder of its transfer
// encoding. Unknown encodings and any number outside the table are copied as text.
_CME_RC CUnpacker::DecodeBody(COutputBlock* block, char** line, CStdioFile* source)
{
    switch (block->GetEncodeType())
    {
        case CMIMEPart::ENCODE_QUOTED_PRINTABLE:
            return DecodeQuotedPrintable(block, line, source);
        case CMIMEPart::ENCODE_BASE64:
            return DecodeBase64(block, line, source);
        case CMIMEPart::ENCODE_BINARY:
            return DecodeBinary(block, line, source);
        case CMIMEPart::ENCODE_X_UUENCODE:
        case CMIMEPart::ENCODE_UUENCODE:
            return DecodeUUEncode(block, line, source);
        default:
            return DecodeText(block, line, source);
    }
}

// Copies a 7bit, 8bit or unknown body line by line into a text-mode file, so that every
// line end is stored as CR LF; the line end before the delimiter is kept. Nothing is
// written when the block already has a data file. Leaves the delimiter line (or the last
// line read) in *line.
_CME_RC CUnpacker::DecodeText(COutputBlock* block, char** line, CStdioFile* source)
{
    std::unique_ptr<CWfxFile> output;
    if (block->GetDataFile()[0] == '\0')
    {
        output.reset(OpenTextOutputFile(block));
        if (output == nullptr)
            return CME_FILE_ERROR;
    }

    while (source->ReadString(*line, LINE_READ_LIMIT) != nullptr)
    {
        if (IsBoundaryLine(*line, block) != BOUNDARY_NONE)
            break;
        if (output != nullptr)
            output->WriteString(*line);
    }

    if (output != nullptr && output->IsOpen())
        output->Close();
    return CME_SUCCESS;
}
