#include "mimeengine/platform/cfile.h"

#include "platform/oscalls.h"
#include "platform/stdiobuffer.h"

#include <cstring>
#include <memory>

namespace
{

const size_t kBufferSize = 64 * 1024;

// File buffers freed on a thread wait there for the next file: one message opens and closes
// several files in turn, and a buffer freed and taken anew for each of them would move the
// heap's top back and forth with a system call each time. A few are kept, as many as a
// message has files open at once. Not in the DLL: a thread-local object with a destructor
// would have to outlive a FreeLibrary of the DLL on threads that go on running.
#if !defined(_WIN32)
struct SpareBuffers
{
    static constexpr int kKept = 4;
    std::unique_ptr<char[]> buffers[kKept];
    int count = 0;
};
thread_local SpareBuffers t_spare;
#endif

std::unique_ptr<char[]> TakeBuffer()
{
#if !defined(_WIN32)
    if (t_spare.count > 0)
        return std::move(t_spare.buffers[--t_spare.count]);
#endif
    return std::unique_ptr<char[]>(new char[kBufferSize]);
}

void GiveBackBuffer(std::unique_ptr<char[]>& buffer)
{
#if !defined(_WIN32)
    if (buffer && t_spare.count < SpareBuffers::kKept)
        t_spare.buffers[t_spare.count++] = std::move(buffer);
#endif
    buffer.reset();
}

void SetError(CFileException* pError, long err, const char* name)
{
    if (pError == nullptr)
        return;
    pError->m_cause = CFileException::OsErrorToException(err);
    pError->m_lOsError = err;
    pError->m_strFileName = name;
}

} // namespace

// --- CFileException -----------------------------------------------------------------

CFileException::CFileException(int cause, long lOsError, const char* pszFileName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(pszFileName)
{
}

CFileException::CFileException(const CFileException& other)
    : CObject(), m_cause(other.m_cause), m_lOsError(other.m_lOsError), m_strFileName(other.m_strFileName)
{
}

CFileException& CFileException::operator=(const CFileException& other)
{
    m_cause = other.m_cause;
    m_lOsError = other.m_lOsError;
    m_strFileName = other.m_strFileName;
    return *this;
}

CFileException::~CFileException() = default;

int CFileException::OsErrorToException(long lOsError)
{
    return platform::CauseOfOsError(lOsError);
}

// --- CFile --------------------------------------------------------------------------

CFile::CFile() : m_hFile(hFileNull) {}

CFile::CFile(const char* pszFileName, UINT nOpenFlags) : m_hFile(hFileNull)
{
    CFileException error;
    if (!CFile::Open(pszFileName, nOpenFlags, &error))
        throw error;
}

CFile::~CFile()
{
    Abort();
    GiveBackBuffer(m_buf);
}

BOOL CFile::Open(const char* pszFileName, UINT nOpenFlags, CFileException* pError)
{
    if (m_hFile != hFileNull)
        Abort();
    if (pszFileName == nullptr || *pszFileName == '\0')
    {
        SetError(pError, platform::kErrorNotFound, pszFileName);
        return FALSE;
    }

    intptr_t handle = hFileNull;
    ULONGLONG size = 0;
    if (long err = platform::OpenRegularFile(pszFileName, nOpenFlags, handle, size))
    {
        SetError(pError, err, pszFileName);
        return FALSE;
    }
    m_hFile = handle;
    m_strFileName = pszFileName;
    m_nOpenFlags = nOpenFlags;
    m_bufStart = 0;
    m_bufPos = m_bufLen = 0;
    m_writing = false;
    // A file this object created holds only what it writes; a file opened for reading only is
    // read up to the size it had when it was opened. Either way the end is known, and the read
    // that would only find it is not made. A size of 0 is no promise: files of /proc say 0 and
    // still have something to read (or fail to be read), so those are read to the end.
    const bool created = (nOpenFlags & modeCreate) != 0 && (nOpenFlags & modeCreateNew) != 0;
    m_endKnown = created || ((nOpenFlags & 0x3) == modeRead && size > 0);
    m_knownEnd = m_endKnown ? size : 0; // a created file's size is 0
    return TRUE;
}

void CFile::NoteWritten(ULONGLONG offset)
{
    if (offset > m_knownEnd)
        m_knownEnd = offset;
}

void CFile::ThrowOsError(long err) const
{
    throw CFileException(CFileException::OsErrorToException(err), err, m_strFileName);
}

void CFile::FlushWrite()
{
    if (!m_writing)
        return;
    size_t pending = m_bufPos;
    m_writing = false;
    m_bufPos = m_bufLen = 0;
    if (pending > 0)
    {
        if (long err = platform::WriteAll(m_hFile, m_buf.get(), pending))
            ThrowOsError(err);
        m_bufStart += pending;
        NoteWritten(m_bufStart);
    }
}

// The buffer is left uninitialised: clearing 64 KiB for every file opened would cost more
// than the work on most small files.
void CFile::EnsureBuffer()
{
    if (!m_buf)
        m_buf = TakeBuffer();
}

void CFile::ResetBuffer(ULONGLONG position)
{
    m_bufStart = position;
    m_bufPos = m_bufLen = 0;
    m_writing = false;
}

// n, or fewer where the known end of the file comes first (the read starts at m_bufStart,
// before that end).
size_t CFile::UpToKnownEnd(size_t n) const
{
    if (!m_endKnown || m_knownEnd - m_bufStart >= n)
        return n;
    return static_cast<size_t>(m_knownEnd - m_bufStart);
}

UINT CFile::FillReadBuffer()
{
    if (m_writing)
        FlushWrite();
    EnsureBuffer();
    m_bufStart += m_bufLen;
    m_bufPos = m_bufLen = 0;
    if (m_endKnown && m_bufStart >= m_knownEnd)
        return 0;
    size_t got = 0;
    if (long err = platform::ReadSome(m_hFile, m_buf.get(), UpToKnownEnd(kBufferSize), got))
        ThrowOsError(err);
    m_bufLen = got;
    return static_cast<UINT>(got);
}

int CFile::RawGetByte()
{
    if (m_writing || m_bufPos == m_bufLen)
    {
        if (FillReadBuffer() == 0)
            return -1;
    }
    return static_cast<unsigned char>(m_buf[m_bufPos++]);
}

int CFile::RawPeekByte()
{
    if (m_writing || m_bufPos == m_bufLen)
    {
        if (FillReadBuffer() == 0)
            return -1;
    }
    return static_cast<unsigned char>(m_buf[m_bufPos]);
}

UINT CFile::RawRead(void* lpBuf, UINT nCount)
{
    if (m_hFile == hFileNull)
        ThrowOsError(platform::kErrorClosedFile);
    if (m_writing)
        FlushWrite();
    char* out = static_cast<char*>(lpBuf);
    UINT done = 0;
    while (done < nCount)
    {
        if (m_bufPos < m_bufLen)
        {
            size_t take = m_bufLen - m_bufPos;
            if (take > nCount - done)
                take = nCount - done;
            std::memcpy(out + done, m_buf.get() + m_bufPos, take);
            m_bufPos += take;
            done += static_cast<UINT>(take);
            continue;
        }
        if (nCount - done >= kBufferSize)
        {
            // Large reads bypass the buffer.
            m_bufStart += m_bufLen;
            m_bufPos = m_bufLen = 0;
            if (m_endKnown && m_bufStart >= m_knownEnd)
                break;
            size_t got = 0;
            if (long err = platform::ReadSome(m_hFile, out + done, UpToKnownEnd(nCount - done), got))
                ThrowOsError(err);
            if (got == 0)
                break;
            m_bufStart += static_cast<ULONGLONG>(got);
            done += static_cast<UINT>(got);
            continue;
        }
        if (FillReadBuffer() == 0)
            break;
    }
    return done;
}

void CFile::RawWrite(const void* lpBuf, UINT nCount)
{
    if (m_hFile == hFileNull)
        ThrowOsError(platform::kErrorClosedFile);
    if (!m_writing)
    {
        // Leave read mode: put the OS offset back at the logical position.
        ULONGLONG pos = m_bufStart + m_bufPos;
        if (m_bufLen != 0)
        {
            if (long err = platform::SeekTo(m_hFile, pos))
                ThrowOsError(err);
        }
        ResetBuffer(pos);
        m_writing = true;
    }
    EnsureBuffer();
    const char* in = static_cast<const char*>(lpBuf);
    if (nCount >= kBufferSize)
    {
        FlushWrite();
        if (long err = platform::WriteAll(m_hFile, in, nCount))
            ThrowOsError(err);
        m_bufStart += nCount;
        NoteWritten(m_bufStart);
        m_writing = true;
        return;
    }
    if (m_bufPos + nCount > kBufferSize)
    {
        FlushWrite();
        m_writing = true;
    }
    std::memcpy(m_buf.get() + m_bufPos, in, nCount);
    m_bufPos += nCount;
}

UINT CFile::Read(void* lpBuf, UINT nCount)
{
    return RawRead(lpBuf, nCount);
}

void CFile::Write(const void* lpBuf, UINT nCount)
{
    RawWrite(lpBuf, nCount);
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom)
{
    if (m_hFile == hFileNull)
        ThrowOsError(platform::kErrorClosedFile);
    LONGLONG base;
    switch (nFrom)
    {
        case begin:
            base = 0;
            break;
        case current:
            base = static_cast<LONGLONG>(GetPosition());
            break;
        case end:
            base = static_cast<LONGLONG>(GetLength());
            break;
        default:
            ThrowOsError(platform::kErrorInvalidArgument);
    }
    LONGLONG target = base + lOff;
    if (target < 0)
        ThrowOsError(platform::kErrorInvalidArgument);
    ULONGLONG utarget = static_cast<ULONGLONG>(target);
    // A seek inside the bytes already read ahead only moves within the buffer.
    if (!m_writing && utarget >= m_bufStart && utarget <= m_bufStart + m_bufLen)
    {
        m_bufPos = static_cast<size_t>(utarget - m_bufStart);
        return utarget;
    }
    // Back into bytes just written that reach the end of a file of ours (a work file read
    // back after it is written): once written out, they serve as bytes read ahead, and the
    // system's offset is already where read mode wants it.
    if (m_writing && m_endKnown && utarget >= m_bufStart && m_bufStart + m_bufPos >= m_knownEnd)
    {
        const ULONGLONG start = m_bufStart;
        const size_t pending = m_bufPos;
        FlushWrite();
        m_bufStart = start;
        m_bufLen = pending;
        if (utarget <= start + pending)
        {
            m_bufPos = static_cast<size_t>(utarget - start);
            return utarget;
        }
        m_bufStart = start + pending;
        m_bufLen = 0;
    }
    FlushWrite();
    if (long err = platform::SeekTo(m_hFile, utarget))
        ThrowOsError(err);
    ResetBuffer(utarget);
    return utarget;
}

ULONGLONG CFile::GetPosition() const
{
    return m_bufStart + m_bufPos;
}

void CFile::SetLength(ULONGLONG dwNewLen)
{
    if (m_hFile == hFileNull)
        ThrowOsError(platform::kErrorClosedFile);
    ULONGLONG pos = GetPosition();
    FlushWrite();
    if (long err = platform::Truncate(m_hFile, dwNewLen))
        ThrowOsError(err);
    m_knownEnd = dwNewLen;
    if (long err = platform::SeekTo(m_hFile, pos))
        ThrowOsError(err);
    ResetBuffer(pos);
}

ULONGLONG CFile::GetLength() const
{
    if (m_hFile == hFileNull)
        ThrowOsError(platform::kErrorClosedFile);
    ULONGLONG size = m_knownEnd;
    if (!m_endKnown)
    {
        if (long err = platform::SizeOf(m_hFile, size))
            ThrowOsError(err);
    }
    if (m_writing && m_bufStart + m_bufPos > size)
        size = m_bufStart + m_bufPos;
    return size;
}

void CFile::Flush()
{
    if (m_hFile != hFileNull)
        FlushWrite();
}

void CFile::Close()
{
    if (m_hFile == hFileNull)
        return;
    long err = 0;
    try
    {
        FlushWrite();
    }
    catch (const CFileException& e)
    {
        err = e.m_lOsError;
    }
    long closeErr = platform::CloseFile(m_hFile);
    if (err == 0)
        err = closeErr;
    m_hFile = hFileNull;
    ResetBuffer(0);
    if (err != 0)
        ThrowOsError(err);
}

void CFile::Abort()
{
    if (m_hFile == hFileNull)
        return;
    try
    {
        FlushWrite();
    }
    catch (const CFileException&)
    {
    }
    platform::CloseFile(m_hFile);
    m_hFile = hFileNull;
    ResetBuffer(0);
}

CString CFile::GetFileName() const
{
    const char* path = m_strFileName;
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\')
            name = p + 1;
    return CString(name);
}

BOOL CFile::GetStatus(const char* pszFileName, CFileStatus& rStatus)
{
    // A symbolic link, even a dangling one, is something that exists at that name.
    if (pszFileName == nullptr || !platform::StatusOfPath(pszFileName, rStatus))
        return FALSE;
    size_t n = std::strlen(pszFileName);
    if (n >= sizeof(rStatus.m_szFullName))
        n = sizeof(rStatus.m_szFullName) - 1;
    std::memcpy(rStatus.m_szFullName, pszFileName, n);
    rStatus.m_szFullName[n] = '\0';
    return TRUE;
}

// --- CStdioFile ---------------------------------------------------------------------

CStdioFile::CStdioFile() = default;

CStdioFile::CStdioFile(const char* pszFileName, UINT nOpenFlags)
{
    CFileException error;
    if (!CStdioFile::Open(pszFileName, nOpenFlags, &error))
        throw error;
}

CStdioFile::~CStdioFile() = default;

BOOL CStdioFile::Open(const char* pszFileName, UINT nOpenFlags, CFileException* pError)
{
    m_bText = (nOpenFlags & typeBinary) ? FALSE : TRUE;
    return CFile::Open(pszFileName, nOpenFlags, pError);
}

UINT CStdioFile::Read(void* lpBuf, UINT nCount)
{
    if (!m_bText)
        return CFile::Read(lpBuf, nCount);
    if (m_hFile == hFileNull)
        ThrowOsError(platform::kErrorClosedFile);
    char* out = static_cast<char*>(lpBuf);
    UINT n = 0;
    while (n < nCount)
    {
        int c = RawGetByte();
        if (c < 0)
            break;
        if (c == '\r' && RawPeekByte() == '\n')
            c = RawGetByte();
        out[n++] = static_cast<char>(c);
    }
    return n;
}

void CStdioFile::Write(const void* lpBuf, UINT nCount)
{
    if (!m_bText)
    {
        CFile::Write(lpBuf, nCount);
        return;
    }
    const char* p = static_cast<const char*>(lpBuf);
    const char* limit = p + nCount;
    while (p < limit)
    {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(limit - p)));
        const char* stop = nl != nullptr ? nl : limit;
        if (stop > p)
            RawWrite(p, static_cast<UINT>(stop - p));
        if (nl == nullptr)
            break;
        RawWrite("\r\n", 2);
        p = nl + 1;
    }
}

char* CStdioFile::ReadString(char* lpsz, UINT nMax)
{
    if (m_hFile == hFileNull)
        ThrowOsError(platform::kErrorClosedFile);
    if (lpsz == nullptr || nMax == 0)
        return nullptr;
    UINT n = 0;
    while (n + 1 < nMax)
    {
        if (m_writing || m_bufPos == m_bufLen)
        {
            if (FillReadBuffer() == 0)
                break;
        }
        const char* p = m_buf.get() + m_bufPos;
        size_t avail = m_bufLen - m_bufPos;
        size_t room = nMax - 1 - n;
        size_t take = avail < room ? avail : room;
        size_t k = 0;
        if (m_bText)
        {
            while (k < take && p[k] != '\n' && p[k] != '\r')
                ++k;
        }
        else
        {
            const void* nl = std::memchr(p, '\n', take);
            k = nl != nullptr ? static_cast<size_t>(static_cast<const char*>(nl) - p) : take;
        }
        std::memcpy(lpsz + n, p, k);
        n += static_cast<UINT>(k);
        m_bufPos += k;
        if (k == take)
            continue;
        // p[k] is a line end character and there is room for one more character.
        char c = p[k];
        ++m_bufPos;
        if (c == '\r')
        {
            // CR LF, even when split across two buffer fills, is delivered as "\n".
            if (RawPeekByte() == '\n')
            {
                ++m_bufPos;
                lpsz[n++] = '\n';
                break;
            }
            lpsz[n++] = '\r';
            continue;
        }
        lpsz[n++] = '\n';
        break;
    }
    lpsz[n] = '\0';
    return n == 0 ? nullptr : lpsz;
}

namespace platform
{

const char* StdioBuffer::PeekBufferedLines(CStdioFile& file, size_t* pLength)
{
    *pLength = 0;
    if (file.m_hFile == CFile::hFileNull)
        file.ThrowOsError(kErrorClosedFile);
    if (file.m_writing || file.m_bufPos == file.m_bufLen)
    {
        if (file.FillReadBuffer() == 0)
            return nullptr;
    }
    const char* p = file.m_buf.get() + file.m_bufPos;
    size_t n = file.m_bufLen - file.m_bufPos;
    while (n > 0 && p[n - 1] != '\n')
        --n;
    if (n == 0)
        return nullptr;
    *pLength = n;
    return p;
}

void StdioBuffer::SkipBuffered(CStdioFile& file, size_t nCount)
{
    file.m_bufPos += nCount;
}

} // namespace platform

BOOL CStdioFile::ReadString(CString& rString)
{
    rString.Empty();
    char chunk[1024];
    bool any = false;
    while (ReadString(chunk, sizeof(chunk)) != nullptr)
    {
        any = true;
        size_t len = std::strlen(chunk);
        if (len > 0 && chunk[len - 1] == '\n')
        {
            chunk[len - 1] = '\0';
            rString += chunk;
            break;
        }
        rString += chunk;
    }
    return any ? TRUE : FALSE;
}

void CStdioFile::WriteString(const char* lpsz)
{
    if (lpsz != nullptr)
        Write(lpsz, static_cast<UINT>(std::strlen(lpsz)));
}
