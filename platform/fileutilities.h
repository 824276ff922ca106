// CFileUtilities: work-file names, path joining, extensions, existence and name cleaning.
#pragma once

#include "mimeengine/platform/afx.h"

class CFileUtilities
{
public:
    // A name that does not exist yet in directory: eight characters from the local date
    // and time and a counter, "." and extension. The full path when fullPath is set.
    // baseName (9 bytes or more) receives the eight-character base when given.
    void MakeWorkFileName(const CString& directory, const char* extension, CString& result, char* baseName,
                          BOOL fullPath);
    // Creates a new file under the name MakeWorkFileName would give, opened into file with
    // nOpenFlags (modeCreate and modeCreateNew are added). A name that is taken by the time
    // of the open, by another engine or process, is passed over for the next one, so two
    // creators never share a file. TRUE with the full path in result; FALSE when no file can
    // be created, with result the last path tried (empty when none fit).
    BOOL CreateWorkFile(const CString& directory, const char* extension, CFile& file, UINT nOpenFlags, CString& result);
    // Forgets where the naming of work files in directory had got to, once the library has
    // removed that directory: a long-running process then keeps nothing for it. Allocates
    // nothing, so it may run after memory has run out.
    void ForgetDirectory(const char* directory);
    // directory + separator ("/", or "\\" on Windows) + name; no separator is added when the
    // directory already ends with one.
    void JoinPath(const CString& directory, const char* name, CString& result);
    // The extension of path with its dot, or empty.
    void GetExtension(const char* path, CString& result);
    // TRUE when path names an existing file that can be opened (not a directory).
    BOOL FileExists(const char* path);
    // Replaces \ : / * ? " < > | in the file name and extension by "_"; a path whose file
    // name part is empty becomes empty. path is a 260-byte buffer.
    void CleanFileName(char* path);
};

// The library's one instance.
extern CFileUtilities g_FileUtilities;
