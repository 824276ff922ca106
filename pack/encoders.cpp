// The body writer and its encoders: copy, base64 and quoted-printable, each streaming the
// data file through one fixed buffer into the message file.
#include "pack/encoders.h"

#include "codec/base64block.h"
#include "mimeengine/pack/packer.h"
#include "resources/stringtable.h"

#include <array>
#include <memory>

namespace mimepack
{

namespace
{

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr unsigned char kCR = 0x0D;
constexpr unsigned char kLF = 0x0A;
constexpr unsigned kQPSoftBreakColumn = 73;

// The quoted-printable escape set: controls, ! " # $ = @ [ \ ] ^ ` { | } ~ DEL and every
// byte with the high bit set. The punctuation is escaped because it does not survive every
// gateway's character set translation.
constexpr std::array<bool, 256> MakeEscapeTable()
{
    std::array<bool, 256> table{};
    for (unsigned c = 0; c < 256; ++c)
    {
        table[c] = c <= 0x1F || (c >= 0x21 && c <= 0x24) || c == 0x3D || c == 0x40 || (c >= 0x5B && c <= 0x5E) ||
                   c == 0x60 || c >= 0x7B;
    }
    return table;
}
constexpr std::array<bool, 256> kQPEscape = MakeEscapeTable();

void PutEscaped(char*& out, unsigned char c)
{
    *out++ = '=';
    *out++ = kHexDigits[c >> 4];
    *out++ = kHexDigits[c & 0x0F];
}

// Encodes byte c; next is the following byte or -1 at the end of the data. Returns TRUE
// when next was written as well (the LF of a CR LF in a text part).
bool QPEncodeByte(QPEncoderState& state, unsigned char c, int next, bool text, char*& out)
{
    if (state.column >= kQPSoftBreakColumn)
    {
        *out++ = '=';
        *out++ = '\r';
        *out++ = '\n';
        state.column = 0;
    }
    // White space at the end of a line or of the data would be lost in transport.
    if ((c == ' ' || c == '\t') && (next == kCR || next < 0))
    {
        PutEscaped(out, c);
        state.column += 3;
        return false;
    }
    if (!kQPEscape[c])
    {
        *out++ = static_cast<char>(c);
        state.column += 1;
        return false;
    }
    if (text && (c == kCR || c == kLF))
    {
        *out++ = static_cast<char>(c);
        state.column += 1;
        if (c == kCR && next == kLF)
        {
            *out++ = '\n';
            state.column = 0;
            return true;
        }
        // A lone CR or LF is kept but does not start a new line for the count.
        return false;
    }
    PutEscaped(out, c);
    state.column += 3;
    return false;
}

} // namespace

bool QPMustEscape(unsigned char c)
{
    return kQPEscape[c];
}

size_t Base64EncodeLines(const unsigned char* in, size_t n, char* out)
{
    char* o = out;
    // Lines followed by at least ten more bytes may read past their end and write past
    // their 72 characters into the next line's place.
    if (n >= kBase64LineBytes + 10)
    {
        const size_t lines = (n - 10) / kBase64LineBytes;
        base64block::EncodeLines54(in, lines, o);
        in += lines * kBase64LineBytes;
        n -= lines * kBase64LineBytes;
        o += lines * kBase64MaxLineLength;
    }
    while (n > 0)
    {
        const size_t lineBytes = n < kBase64LineBytes ? n : kBase64LineBytes;
        o += base64block::Encode(in, lineBytes, o);
        *o++ = '\r';
        *o++ = '\n';
        in += lineBytes;
        n -= lineBytes;
    }
    return static_cast<size_t>(o - out);
}

size_t QPEncodeStep(QPEncoderState& state, const unsigned char* in, size_t n, bool text, char* out)
{
    if (n == 0)
        return 0;
    char* o = out;
    size_t i = 0;
    if (state.held >= 0)
    {
        const unsigned char c = static_cast<unsigned char>(state.held);
        state.held = -1;
        if (QPEncodeByte(state, c, in[0], text, o))
            i = 1;
    }
    for (; i < n; ++i)
    {
        if (i + 1 == n)
        {
            state.held = in[i];
            break;
        }
        // The common case, a byte written as itself inside a line, needs no look-ahead.
        const unsigned char c = in[i];
        if (!kQPEscape[c] && c != ' ' && state.column < kQPSoftBreakColumn)
        {
            *o++ = static_cast<char>(c);
            ++state.column;
            continue;
        }
        if (QPEncodeByte(state, c, in[i + 1], text, o))
            ++i;
    }
    return static_cast<size_t>(o - out);
}

size_t QPEncodeFinish(QPEncoderState& state, bool text, char* out)
{
    if (state.held < 0)
        return 0;
    char* o = out;
    const unsigned char c = static_cast<unsigned char>(state.held);
    state.held = -1;
    QPEncodeByte(state, c, -1, text, o);
    return static_cast<size_t>(o - out);
}

} // namespace mimepack

// Opens the block's data file and writes it encoded by the block's encoding, followed by the
// line break that the encoding and the block's place call for. CME_DATA_FILE_ERROR, with
// message 20003 in errorString, when the data file cannot be opened.
_CME_RC CPacker::WriteBody(CInputBlock* block, CFile& output, CString& errorString)
{
    CFile data;
    if (!data.Open(block->GetDataFile(), CFile::modeRead | CFile::shareExclusive))
    {
        CString format;
        format.LoadString(IDS_DATA_FILE_OPEN);
        errorString.Format(format, block->GetDataFile());
        return CME_DATA_FILE_ERROR;
    }
    const CBlock* parent = block->GetParentBlock();
    switch (block->GetEncodeType())
    {
        case CMIMEPart::ENCODE_QUOTED_PRINTABLE:
            EncodeQuotedPrintable(data, output, block);
            // Ends the last encoded line, which the data need not have ended.
            if (parent != nullptr)
                output.Write("\r\n", 2);
            break;
        case CMIMEPart::ENCODE_BASE64:
            EncodeBase64(data, output);
            break;
        case CMIMEPart::ENCODE_BINARY:
            CopyData(data, output);
            // Keeps the delimiter that follows on a line of its own.
            if (parent != nullptr && parent->GetContentType() == CMIMEPart::CONTENT_MULTIPART)
                output.Write("\r\n", 2);
            break;
        default:
            // 7bit, 8bit, unknown and the uuencode forms are copied as they are.
            CopyData(data, output);
            break;
    }
    data.Close();
    return CME_SUCCESS;
}

// Copies data to output unchanged, 1024 bytes per read.
void CPacker::CopyData(CFile& data, CFile& output)
{
    char buffer[1024];
    for (;;)
    {
        const UINT got = data.Read(buffer, sizeof buffer);
        if (got == 0)
            break;
        output.Write(buffer, got);
    }
}

// Writes data as base64 lines of 72 characters, one write per read of 1214 lines' worth.
void CPacker::EncodeBase64(CFile& data, CFile& output)
{
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[mimepack::kBase64ReadSize]);
    std::unique_ptr<char[]> encoded(new char[mimepack::kBase64OutputSize]);
    for (;;)
    {
        const UINT got = data.Read(buffer.get(), static_cast<UINT>(mimepack::kBase64ReadSize));
        if (got == 0)
            break;
        const size_t length = mimepack::Base64EncodeLines(buffer.get(), got, encoded.get());
        output.Write(encoded.get(), static_cast<UINT>(length));
    }
}

// Writes data as quoted-printable, 127 bytes per read; in a text part CR LF stays a line
// break, elsewhere CR and LF are escaped. What one read produces is written at once.
void CPacker::EncodeQuotedPrintable(CFile& data, CFile& output, CInputBlock* block)
{
    const bool text = block->GetContentType() == CMIMEPart::CONTENT_TEXT;
    mimepack::QPEncoderState state;
    unsigned char buffer[mimepack::kQPReadSize];
    char encoded[mimepack::kQPOutputSize];
    for (;;)
    {
        const UINT got = data.Read(buffer, sizeof buffer);
        if (got == 0)
            break;
        const size_t length = mimepack::QPEncodeStep(state, buffer, got, text, encoded);
        if (length > 0)
            output.Write(encoded, static_cast<UINT>(length));
    }
    const size_t length = mimepack::QPEncodeFinish(state, text, encoded);
    if (length > 0)
        output.Write(encoded, static_cast<UINT>(length));
}
