// Usage: flat_library_exception MISSING_FILE. A C++ client linked to the shared library itself
// (mimeengine.dll through its import library on Windows): the throwing constructor of CFile,
// inside the library, raises CFileException for a file that cannot be read, and the client
// catches it by type with the cause and the name intact. Exits 0 when it did.
#include <mimeengine/mimeengine.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    try
    {
        CFile file(argv[1], CFile::modeRead | CFile::typeBinary);
        std::puts("opened: no exception");
    }
    catch (const CFileException& e)
    {
        std::printf("caught CFileException, cause %d, file %s\n", e.m_cause, e.m_strFileName.GetString());
        return e.m_cause == CFileException::fileNotFound && std::strcmp(e.m_strFileName.GetString(), argv[1]) == 0
                   ? 0
                   : 1;
    }
    catch (...)
    {
        std::puts("caught something else");
    }
    return 1;
}
