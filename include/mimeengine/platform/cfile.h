// CFile, CStdioFile and CFileException: buffered file access by path.
//
// CFile is always binary. CStdioFile works in text mode unless opened with typeBinary:
// reading delivers each CR LF as "\n" (a lone CR stays a CR), writing stores each "\n" as
// CR LF. Positions (GetPosition, Seek) are raw byte offsets of the file in both modes, so
// an offset taken while reading text can be used to re-read the same bytes in binary.
// Share flags are accepted and not enforced. A create never follows a symbolic link at the
// last path component, and a directory can never be opened as a file.
#pragma once

#include "mimeengine/export.h"
#include "mimeengine/platform/cobject.h"
#include "mimeengine/platform/cstring.h"
#include "mimeengine/platform/types.h"

#include <cstdint>
#include <memory>

class MIMEENGINE_API CFileException : public CObject
{
public:
    enum
    {
        none = 0,
        generic = 1,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14
    };

    explicit CFileException(int cause = none, long lOsError = -1, const char* pszFileName = nullptr);
    CFileException(const CFileException& other);
    CFileException& operator=(const CFileException& other);
    ~CFileException() override;

    // Maps a system error code (errno, or GetLastError on Windows) to a cause.
    static int OsErrorToException(long lOsError);

    int m_cause;
    long m_lOsError;
    CString m_strFileName;
};

struct CFileStatus
{
    ULONGLONG m_size = 0;
    long long m_mtime = 0;
    BYTE m_attribute = 0; // 0x10 for a directory
    char m_szFullName[260] = {0};
};

class MIMEENGINE_API CFile : public CObject
{
public:
    enum OpenFlags : UINT
    {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
        // With modeCreate: only a new file will do; the open fails with the system's
        // "exists" error when anything at all is at the name.
        modeCreateNew = 0x10000
    };
    enum SeekPosition : UINT
    {
        begin = 0x0,
        current = 0x1,
        end = 0x2
    };
    static constexpr intptr_t hFileNull = -1;

    CFile();
    // Opens the file; raises CFileException on failure.
    CFile(const char* pszFileName, UINT nOpenFlags);
    // Closes the file if open; errors while closing are not reported.
    ~CFile() override;

    // Returns FALSE on failure and fills *pError when given; never raises.
    virtual BOOL Open(const char* pszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
    virtual UINT Read(void* lpBuf, UINT nCount);
    virtual void Write(const void* lpBuf, UINT nCount);
    virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    void SeekToBegin() { Seek(0, begin); }
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    virtual ULONGLONG GetPosition() const;
    virtual void SetLength(ULONGLONG dwNewLen);
    virtual ULONGLONG GetLength() const;
    virtual void Flush();
    // Flushes and closes; raises CFileException when pending data cannot be written.
    virtual void Close();
    // Closes without raising.
    virtual void Abort();

    CString GetFilePath() const { return m_strFileName; }
    CString GetFileName() const;

    // TRUE when the path names an existing file or directory.
    static BOOL GetStatus(const char* pszFileName, CFileStatus& rStatus);

    intptr_t m_hFile; // the system's file descriptor or handle

protected:
    // Raw buffered access used by the text layer of CStdioFile.
    int RawGetByte();  // next byte, or -1 at the end of the file
    int RawPeekByte(); // next byte without consuming it, or -1
    void ResetBuffer(ULONGLONG position);
    UINT RawRead(void* lpBuf, UINT nCount);
    void RawWrite(const void* lpBuf, UINT nCount);
    [[noreturn]] void ThrowOsError(long err) const;

    void FlushWrite();
    void NoteWritten(ULONGLONG offset);
    UINT FillReadBuffer();
    size_t UpToKnownEnd(size_t n) const;
    void EnsureBuffer();

    CString m_strFileName;
    UINT m_nOpenFlags = 0;

    // One buffer, holding either bytes read ahead (m_bufPos..m_bufLen) or pending writes
    // (0..m_bufPos). In read mode the OS file offset is m_bufStart + m_bufLen; in write
    // mode it is m_bufStart. The logical position is always m_bufStart + m_bufPos.
    std::unique_ptr<char[]> m_buf; // allocated, not cleared, on first use
    ULONGLONG m_bufStart = 0;      // file offset of m_buf[0]
    size_t m_bufPos = 0;           // next byte to read or write in m_buf
    size_t m_bufLen = 0;           // bytes valid in m_buf (read mode)
    bool m_writing = false;        // m_buf holds pending writes
    // Where the file ends, for a file this object created (modeCreateNew: every byte in it was
    // written through this object, and bytes just written can be read back from the buffer)
    // and for a file opened for reading only (its size when opened): reads need not ask the
    // system where the end is.
    bool m_endKnown = false;
    ULONGLONG m_knownEnd = 0;
};

namespace platform
{
struct StdioBuffer;
}

class MIMEENGINE_API CStdioFile : public CFile
{
public:
    CStdioFile();
    // Opens the file; raises CFileException on failure.
    CStdioFile(const char* pszFileName, UINT nOpenFlags);
    ~CStdioFile() override;

    BOOL Open(const char* pszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;
    UINT Read(void* lpBuf, UINT nCount) override;
    void Write(const void* lpBuf, UINT nCount) override;

    // Reads at most nMax-1 characters of one line, its line end included, then a NUL.
    // Returns lpsz, or null when the end of the file was reached before any character.
    virtual char* ReadString(char* lpsz, UINT nMax);
    // Reads one whole line without its line end; FALSE at the end of the file.
    virtual BOOL ReadString(CString& rString);
    virtual void WriteString(const char* lpsz);

    BOOL IsTextMode() const { return m_bText; }

protected:
    BOOL m_bText = TRUE;

private:
    friend struct platform::StdioBuffer; // the decoders' direct view of the read buffer
};
