// BINARY bodies: the body's bytes are copied raw from a second, untranslated handle on
// the message file, up to the CR LF that comes before the delimiter line.
#include "extract/bodycodecs.h"
#include "mimeengine/unpack/unpacker.h"

#include <cstring>
#include <memory>
#include <vector>

namespace
{

// Copies at most max bytes of text into a NUL-terminated buffer (size max + 1).
void CopyLineHead(const char* text, size_t available, char* out, size_t max)
{
    size_t n = available < max ? available : max;
    std::memcpy(out, text, n);
    out[n] = '\0';
}

// Bytes of a line handed to IsBoundaryLine: more than any delimiter can be long
// ("--" + a 70-character boundary + "--").
constexpr size_t kDelimiterWindow = 128;
// Bytes read per refill of the scan window.
constexpr size_t kChunk = 64 * 1024;

// Scans a raw body for the line that ends it and copies the bytes before it. The window
// is refilled whenever fewer than a delimiter's worth of bytes lie ahead of the scan, so
// a delimiter that straddles two reads is still seen whole; at the end of the file only
// the bytes actually read are tested.
class CBinaryScan
{
public:
    CBinaryScan(CFile& input, ULONGLONG start, COutputBlock* context)
        : m_input(input), m_context(context), m_buffer(kChunk + kDelimiterWindow + 2), m_offset(start)
    {
    }

    // Copies body bytes to output (null: drop them). Returns TRUE with *delimiter set to
    // the offset of the delimiter line, or FALSE at the end of the file.
    bool Run(CFile* output, ULONGLONG* delimiter)
    {
        // The body starts right after the header's empty line: an empty body has its
        // delimiter there, with the header's last line end before it.
        Fill();
        if (IsDelimiterAt(0))
        {
            *delimiter = m_offset;
            return true;
        }
        size_t runStart = 0;
        for (;;)
        {
            if (!m_eof && m_length - m_pos < kDelimiterWindow + 2)
            {
                Write(output, runStart, m_pos);
                Shift();
                Fill();
                runStart = 0;
            }
            if (m_pos >= m_length)
                break;
            const void* cr = memchr(m_buffer.data() + m_pos, '\r', m_length - m_pos);
            if (cr == nullptr)
            {
                m_pos = m_length;
                continue;
            }
            size_t c = static_cast<size_t>(static_cast<const char*>(cr) - m_buffer.data());
            if (!m_eof && m_length - c < kDelimiterWindow + 2)
            {
                // Too close to the end of the window to judge: refill first.
                m_pos = c;
                continue;
            }
            if (c + 1 < m_length && m_buffer[c + 1] == '\n' && IsDelimiterAt(c + 2))
            {
                Write(output, runStart, c);
                *delimiter = m_offset + c + 2;
                return true;
            }
            m_pos = c + 1;
        }
        Write(output, runStart, m_length);
        return false;
    }

private:
    bool IsDelimiterAt(size_t at)
    {
        if (m_context == nullptr || at > m_length)
            return false;
        char head[kDelimiterWindow + 1];
        CopyLineHead(m_buffer.data() + at, m_length - at, head, kDelimiterWindow);
        return IsBoundaryLine(head, m_context) != BOUNDARY_NONE;
    }

    void Write(CFile* output, size_t from, size_t to)
    {
        if (output != nullptr && to > from)
            output->Write(m_buffer.data() + from, static_cast<UINT>(to - from));
    }

    // Drops the bytes before the scan position from the window.
    void Shift()
    {
        memmove(m_buffer.data(), m_buffer.data() + m_pos, m_length - m_pos);
        m_offset += m_pos;
        m_length -= m_pos;
        m_pos = 0;
    }

    void Fill()
    {
        while (!m_eof && m_length < m_buffer.size())
        {
            UINT n = m_input.Read(m_buffer.data() + m_length, static_cast<UINT>(m_buffer.size() - m_length));
            if (n == 0)
                m_eof = true;
            m_length += n;
        }
    }

    CFile& m_input;
    COutputBlock* m_context;
    std::vector<char> m_buffer;
    ULONGLONG m_offset; // file offset of m_buffer[0]
    size_t m_length = 0;
    size_t m_pos = 0;
    bool m_eof = false;
};

} // namespace

// Copies the BINARY body that starts at the current position of source into the
// block's output file; the source is left at the delimiter line, which the part walk
// reads next. The line buffer is not touched.
_CME_RC CUnpacker::DecodeBinary(COutputBlock* block, char** /*line*/, CStdioFile* source)
{
    ULONGLONG position = source->GetPosition();
    const CWfxFile* work = dynamic_cast<const CWfxFile*>(source);
    CString path = work != nullptr ? work->GetPath() : source->GetFilePath();
    _CME_RC rc = CopyBinaryBodyAt(path, &position, block);
    source->Seek(static_cast<LONGLONG>(position), CFile::begin);
    return rc;
}

// Copies the raw bytes of a BINARY body from *position up to the CR LF before its
// delimiter line, whose offset replaces *position; at the end of the file without a
// delimiter *position stays as it was. Without a block nothing is written, and the
// delimiter is the one seen from m_pSkipContext (the part walk's child being skipped).
// A source that cannot be opened raises CFileException.
_CME_RC CUnpacker::CopyBinaryBody(const char* source, unsigned long* position, COutputBlock* block)
{
    ULONGLONG at = *position;
    const _CME_RC rc = CopyBinaryBodyAt(source, &at, block);
    // A delimiter past what the caller's offset can hold is not reported as a wrong offset:
    // the position stays, as when no delimiter is found.
    if (at <= static_cast<unsigned long>(-1))
        *position = static_cast<unsigned long>(at);
    return rc;
}

_CME_RC CUnpacker::CopyBinaryBodyAt(const char* source, ULONGLONG* position, COutputBlock* block)
{
    CFile input(source, CFile::modeRead | CFile::shareDenyWrite);
    input.Seek(static_cast<LONGLONG>(*position), CFile::begin);

    std::unique_ptr<CFile> output;
    if (block != nullptr && block->GetDataFile()[0] == '\0')
    {
        output.reset(OpenBinaryOutputFile(block));
        if (output == nullptr)
            return CME_FILE_ERROR;
    }

    CBinaryScan scan(input, *position, block != nullptr ? block : m_pSkipContext);
    ULONGLONG delimiter = 0;
    if (scan.Run(output.get(), &delimiter))
        *position = delimiter;

    input.Close();
    if (output != nullptr)
        output->Close();
    return CME_SUCCESS;
}

// Passes over a BINARY body without writing it: *position goes from the first body byte
// to the delimiter line that ends it, as seen from block.
_CME_RC CUnpacker::SkipBinaryBody(const char* source, ULONGLONG* position, COutputBlock* block)
{
    struct Restore
    {
        COutputBlock*& slot;
        COutputBlock* saved;
        ~Restore() { slot = saved; }
    } restore{m_pSkipContext, m_pSkipContext};
    m_pSkipContext = block;
    return CopyBinaryBodyAt(source, position, nullptr);
}
