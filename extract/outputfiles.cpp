// The files into which leaf bodies are decoded: choosing a name inside the work directory
// and creating the file.
#include "extract/outputnames.h"
#include "mimeengine/unpack/unpacker.h"
#include "platform/fileutilities.h"
#include "platform/pathparts.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace
{

// Open flags of a decoded body: create, write (text mode unless the file class is binary).
constexpr UINT kOutputFlags = CFile::modeCreate | CFile::modeWrite;

// The bare file name of a suggested name: everything up to the last "/" or "\\" and a
// leading drive are dropped, so a message cannot steer a body out of the work directory.
// Empty when nothing usable is left ("", "." or "..").
std::string BareFileName(const char* suggested)
{
    // "/" is found byte by byte, as the file system sees it, even where a double-byte code
    // page would take it for the second byte of a character; "\\" only as a whole character.
    PathParts parts = SplitPathParts(suggested);
    std::string name(suggested + parts.nameStart);
    if (name == "." || name == "..")
        name.clear();
    return name;
}

// Creates a work file in directory, keeping extension (with its dot) when it has at least
// one character and the name fits; "TMP" otherwise. name is the file made, or the last name
// tried, or empty when not even a "TMP" name fits.
bool CreateWorkFileFor(const CString& directory, const CString& extension, CFile& file, CString& name)
{
    name.Empty();
    if (extension.GetLength() >= 2 &&
        g_FileUtilities.CreateWorkFile(directory, extension.GetString() + 1, file, kOutputFlags, name))
        return true;
    if (name.IsEmpty())
        return g_FileUtilities.CreateWorkFile(directory, "TMP", file, kOutputFlags, name) != FALSE;
    return false;
}

// Raised when no file can be created for a body, not even under a work-file name.
[[noreturn]] void ThrowCreateFailure()
{
    throw CFileException(CFileException::generic, -1, nullptr);
}

} // namespace

// Creates the file for block's body under its first choice of name: the suggested name
// (numbered when a file has it), else a work-file name. name is the file made or the name
// tried, never longer than the 259 characters the data file field can hold.
static bool CreateFirstChoice(CUnpacker& unpacker, COutputBlock* block, CFile& file, CString& name)
{
    const CString& directory = unpacker.m_WorkDirectory;

    char path[MAX_PATH];
    path[0] = '\0';
    std::string bare = BareFileName(block->GetSuggestName());
    bool tooLong = false;
    if (!bare.empty())
    {
        CString joined;
        g_FileUtilities.JoinPath(directory, bare.c_str(), joined);
        // A joined name that does not fit the data file field falls through to a
        // work-file name.
        if (joined.GetLength() < MAX_PATH)
            std::memcpy(path, joined.GetString(), static_cast<size_t>(joined.GetLength()) + 1);
        else
            tooLong = true;
    }
    g_FileUtilities.CleanFileName(path);

    if (path[0] == '\0')
    {
        CString extension;
        if (tooLong)
        {
            // A name that was only too long keeps its extension, cleaned like any other.
            char ext[_MAX_EXT];
            _splitpath(bare.c_str(), nullptr, nullptr, nullptr, ext);
            char cleaned[MAX_PATH];
            std::snprintf(cleaned, sizeof cleaned, "x%s", ext);
            g_FileUtilities.CleanFileName(cleaned);
            g_FileUtilities.GetExtension(cleaned, extension);
        }
        return CreateWorkFileFor(directory, extension, file, name);
    }
    // Most names are free, and then creating the file is the only call. Only when that fails
    // is the name looked at: a file there gets a number, anything else gives the name up.
    // Only a new file is ever made, so that nothing at a name is written over.
    return NumberFreePath(unpacker, path, name, [&file](const char* candidate) {
               if (file.Open(candidate, kOutputFlags | CFile::modeCreateNew) != FALSE)
                   return NameClaim::Claimed;
               return g_FileUtilities.FileExists(candidate) != FALSE ? NameClaim::Taken : NameClaim::Refused;
           }) != FALSE;
}

// Creates the file for block's body, under its first choice of name or, when that cannot be
// created, under a work-file name with the same extension, and records the name as the
// block's data file. FALSE when no file could be created.
static bool CreateOutputFile(CUnpacker& unpacker, COutputBlock* block, CFile& file)
{
    CString name;
    bool made = CreateFirstChoice(unpacker, block, file, name);
    if (!made)
    {
        CString extension;
        g_FileUtilities.GetExtension(name, extension);
        made = CreateWorkFileFor(unpacker.m_WorkDirectory, extension, file, name);
    }
    block->SetDataFile(name);
    return made;
}

CWfxFile* CUnpacker::OpenTextOutputFile(COutputBlock* block)
{
    std::unique_ptr<CWfxFile> file(new CWfxFile(CString(), kOutputFlags, FALSE, FALSE));
    if (!CreateOutputFile(*this, block, *file))
        ThrowCreateFailure();
    file->m_strPath = block->GetDataFile();
    return file.release();
}

CFile* CUnpacker::OpenBinaryOutputFile(COutputBlock* block)
{
    std::unique_ptr<CFile> file(new CFile);
    if (!CreateOutputFile(*this, block, *file))
        ThrowCreateFailure();
    return file.release();
}
