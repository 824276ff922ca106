// The files into which leaf bodies are decoded: choosing a name inside the work directory
// and creating the file.
#include "extract/fileutilities.h"
#include "extract/pathparts.h"
#include "mimeengine/unpack/unpacker.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace
{

// Open flags of a decoded body: create, write (text mode unless the file class is binary).
constexpr UINT kOutputFlags = CFile::modeCreate | CFile::modeWrite;

bool NameTaken(const char* path)
{
    CFileStatus status;
    return CFile::GetStatus(path, status) != FALSE;
}

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

// A work-file name in directory, keeping extension (with its dot) when it has at least one
// character and the result fits; "TMP" otherwise. Empty when not even that fits.
CString WorkFileFor(const CString& directory, const CString& extension)
{
    CString name;
    if (extension.GetLength() >= 2)
        g_FileUtilities.MakeWorkFileName(directory, extension.GetString() + 1, name, nullptr, TRUE);
    if (name.IsEmpty())
        g_FileUtilities.MakeWorkFileName(directory, "TMP", name, nullptr, TRUE);
    return name;
}

// Raised when no file can be created for a body, not even under a work-file name.
[[noreturn]] void ThrowCreateFailure()
{
    throw CFileException(CFileException::generic, -1, nullptr);
}

} // namespace

// Picks the name for block's body and records it as the block's data file. The name is
// never longer than the 259 characters the data file field can hold.
static CString ChooseOutputName(CUnpacker& unpacker, COutputBlock* block)
{
    const CString& directory = unpacker.m_WorkDirectory;

    char name[MAX_PATH];
    name[0] = '\0';
    std::string bare = BareFileName(block->GetSuggestName());
    bool tooLong = false;
    if (!bare.empty())
    {
        CString joined;
        g_FileUtilities.JoinPath(directory, bare.c_str(), joined);
        // A joined name that does not fit the data file field falls through to a
        // work-file name.
        if (joined.GetLength() < MAX_PATH)
            std::memcpy(name, joined.GetString(), static_cast<size_t>(joined.GetLength()) + 1);
        else
            tooLong = true;
    }
    g_FileUtilities.CleanFileName(name);

    CString chosen;
    if (name[0] == '\0')
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
        chosen = WorkFileFor(directory, extension);
    }
    else if (NameTaken(name))
    {
        // "name (n).ext" with the first free n from 2. The next n to try is remembered per
        // name, so many parts of one name do not rescan the numbers already used.
        PathParts parts = SplitPathParts(name);
        std::string stem(name, parts.extStart);
        const char* ext = name + parts.extStart;
        int& next = unpacker.m_NextCollisionNumber[name];
        if (next < 2)
            next = 2;
        for (;; ++next)
        {
            char numbered[MAX_PATH + 64];
            int n = std::snprintf(numbered, sizeof numbered, "%s (%d)%s", stem.c_str(), next, ext);
            if (n < 0 || n >= MAX_PATH)
            {
                // No room for the number: a work-file name with the same extension.
                chosen = WorkFileFor(directory, ext);
                break;
            }
            if (!NameTaken(numbered))
            {
                chosen = numbered;
                ++next;
                break;
            }
        }
    }
    else
    {
        chosen = name;
    }
    block->SetDataFile(chosen);
    return chosen;
}

CWfxFile* CUnpacker::OpenTextOutputFile(COutputBlock* block)
{
    CString name = ChooseOutputName(*this, block);
    if (!name.IsEmpty())
    {
        CWfxFile* file = new CWfxFile(name, kOutputFlags, FALSE, TRUE);
        if (file->IsOpen())
            return file;
        delete file;
    }

    // The first choice cannot be created: a work-file name with the same extension.
    CString extension;
    g_FileUtilities.GetExtension(name, extension);
    name = WorkFileFor(m_WorkDirectory, extension);
    block->SetDataFile(name);
    if (!name.IsEmpty())
    {
        CWfxFile* file = new CWfxFile(name, kOutputFlags, FALSE, TRUE);
        if (file->IsOpen())
            return file;
        delete file;
    }
    ThrowCreateFailure();
}

CFile* CUnpacker::OpenBinaryOutputFile(COutputBlock* block)
{
    CString name = ChooseOutputName(*this, block);
    if (!name.IsEmpty())
    {
        try
        {
            return new CFile(name, kOutputFlags);
        }
        catch (const CFileException&)
        {
            // Falls through to the work-file name below.
        }
    }

    CString extension;
    g_FileUtilities.GetExtension(name, extension);
    name = WorkFileFor(m_WorkDirectory, extension);
    block->SetDataFile(name);
    if (!name.IsEmpty())
    {
        try
        {
            return new CFile(name, kOutputFlags);
        }
        catch (const CFileException&)
        {
        }
    }
    ThrowCreateFailure();
}
