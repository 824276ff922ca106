// CWfxFile: a CStdioFile that remembers its path and can delete its file when destroyed.
#pragma once

#include "mimeengine/export.h"
#include "mimeengine/platform/afx.h"

class MIMEENGINE_API CWfxFile : public CStdioFile
{
public:
    // With openNow, opens path with flags; a failure leaves the file closed and raises nothing.
    CWfxFile(const CString& path, UINT flags, BOOL deleteOnDestroy, BOOL openNow);
    // Closes the file if open, then deletes it from the disk when asked to.
    ~CWfxFile() override;
    void Close() override;

    BOOL IsOpen() const { return m_hFile != hFileNull; }
    const CString& GetPath() const { return m_strPath; }

    CString m_strPath;
    BOOL m_bDeleteOnDestroy;
};
