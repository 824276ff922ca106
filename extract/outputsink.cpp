// Buffered writing of decoded bytes for the binary body decoders, and the buffered line
// runs through which they read.
#include "extract/bodycodecs.h"
#include "mimeengine/unpack/parseutilities.h"
#include "platform/stdiobuffer.h"

#include <cstring>

namespace bodycodecs
{

COutputSink::COutputSink(CFile* file, size_t holdBack) : m_file(file), m_holdBack(holdBack) {}

void COutputSink::Put(const void* data, size_t n)
{
    const unsigned char* in = static_cast<const unsigned char*>(data);
    while (n > 0)
    {
        size_t take = n < MAX_RESERVE ? n : MAX_RESERVE;
        std::memcpy(Reserve(take), in, take);
        Commit(take);
        in += take;
        n -= take;
    }
}

unsigned char* COutputSink::Grow(size_t n)
{
    if (m_length + n > CAPACITY)
        Drain(m_holdBack);
    if (m_length + n > m_capacity)
    {
        // Small bodies keep a small buffer; large ones grow it to the full chunk.
        size_t capacity = m_capacity * 4 > 4096 ? m_capacity * 4 : 4096;
        while (capacity < m_length + n)
            capacity *= 2;
        if (capacity > CAPACITY)
            capacity = CAPACITY;
        std::unique_ptr<unsigned char[]> larger(new unsigned char[capacity]);
        if (m_length > 0)
            std::memcpy(larger.get(), m_buf.get(), m_length);
        m_buf = std::move(larger);
        m_capacity = capacity;
    }
    return m_buf.get() + m_length;
}

void COutputSink::DropHeldBack()
{
    size_t drop = m_length < m_holdBack ? m_length : m_holdBack;
    m_length -= drop;
}

void COutputSink::Finish()
{
    Drain(0);
}

// Writes all pending bytes but the last keep ones.
void COutputSink::Drain(size_t keep)
{
    if (m_length <= keep)
        return;
    size_t n = m_length - keep;
    if (m_file != nullptr)
        m_file->Write(m_buf.get(), static_cast<UINT>(n));
    if (keep > 0)
        std::memmove(m_buf.get(), m_buf.get() + n, keep);
    m_length = keep;
}

bool CLineRun::PeekRun(const char** text, size_t* length)
{
    if (m_waitForLineEnd)
        return false;
    if (m_used == m_runLength)
    {
        m_used = 0;
        m_run = platform::StdioBuffer::PeekBufferedLines(*m_source, &m_runLength);
        if (m_run == nullptr)
        {
            // The buffer ends inside a line: ReadString reads that one across the fill.
            m_waitForLineEnd = true;
            return false;
        }
    }
    *text = m_run + m_used;
    *length = m_runLength - m_used;
    return true;
}

bool CLineRun::Peek(const char** text, size_t* length)
{
    const char* p = nullptr;
    size_t available = 0;
    if (!PeekRun(&p, &available))
        return false;
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', available));
    size_t n = static_cast<size_t>(nl - p);
    m_peekRaw = n + 1;
    if (m_text && n > 0 && p[n - 1] == '\r')
        --n;
    // ReadString delivers at most LINE_READ_LIMIT - 1 characters, the "\n" included; a
    // longer line comes in pieces, which only ReadString makes.
    if (n + 1 > LINE_READ_LIMIT - 1)
    {
        m_waitForLineEnd = true;
        return false;
    }
    *text = p;
    *length = n;
    return true;
}

void CLineRun::Take()
{
    platform::StdioBuffer::SkipBuffered(*m_source, m_peekRaw);
    m_used += m_peekRaw;
}

char* CLineRun::ReadString(char* line)
{
    const char* text = nullptr;
    size_t n = 0;
    if (Peek(&text, &n))
    {
        std::memcpy(line, text, n);
        line[n] = '\n';
        line[n + 1] = '\0';
        Take();
        return line;
    }
    // The file reads on past the run; the next Peek starts from its buffer afresh. Until a
    // line end has been read, the buffer is known to hold no whole line.
    m_run = nullptr;
    m_runLength = m_used = 0;
    char* result = m_source->ReadString(line, LINE_READ_LIMIT);
    size_t got = result != nullptr ? std::strlen(result) : 0;
    m_waitForLineEnd = result != nullptr && (got == 0 || result[got - 1] != '\n');
    return result;
}

} // namespace bodycodecs
