// CWfxFile: a CStdioFile that remembers its path and can remove its file when destroyed.
#include "mimeengine/extract/wfxfile.h"

#include "platform/win32.h"

CWfxFile::CWfxFile(const CString& path, UINT flags, BOOL deleteOnDestroy, BOOL openNow)
    : CStdioFile(), m_strPath(path), m_bDeleteOnDestroy(deleteOnDestroy)
{
    // Users test IsOpen() afterwards; a failed open is not an exception here.
    if (openNow)
        Open(m_strPath, flags, nullptr);
}

CWfxFile::~CWfxFile()
{
    if (!m_strPath.IsEmpty() && IsOpen())
    {
        // A destructor must not throw: data that cannot be flushed any more is dropped.
        try
        {
            Close();
        }
        catch (const CFileException&)
        {
            Abort();
            m_hFile = hFileNull;
        }
    }
    if (!m_strPath.IsEmpty() && m_bDeleteOnDestroy)
        _unlink(m_strPath);
}

void CWfxFile::Close()
{
    try
    {
        CStdioFile::Close();
    }
    catch (...)
    {
        m_hFile = hFileNull;
        throw;
    }
    m_hFile = hFileNull;
}
