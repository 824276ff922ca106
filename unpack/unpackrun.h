// Pieces shared by the two parse runs (a whole message, a body without header): opening
// the message file, the line pair and the release of a partly built tree.
#pragma once

#include "mimeengine/unpack/unpacker.h"
#include "platform/fileutilities.h"
#include "resources/stringtable.h"

#include <memory>
#include <new>

namespace unpackrun
{

// The parser's two 2048-byte line buffers, released with the object. line and readAhead
// are what SwitchPointers exchanges; both are null when the allocation failed.
class LinePair
{
public:
    LinePair() : m_first(new (std::nothrow) char[LINE_BUFFER_SIZE]), m_second(new (std::nothrow) char[LINE_BUFFER_SIZE])
    {
        if (m_first && m_second)
        {
            m_first[0] = '\0';
            m_second[0] = '\0';
            line = m_first.get();
            readAhead = m_second.get();
        }
    }
    bool Valid() const { return line != nullptr; }

    char* line = nullptr;
    char* readAhead = nullptr;

private:
    std::unique_ptr<char[]> m_first;
    std::unique_ptr<char[]> m_second;
};

// The body position a block records: an unsigned long, 32 bits on Windows. An offset that
// does not fit is recorded as the largest value, which no body below 4 GiB has, rather than
// cut to a smaller offset that would point into another part.
inline unsigned long RecordedBodyPosition(ULONGLONG position)
{
    const unsigned long largest = static_cast<unsigned long>(-1);
    return position > largest ? largest : static_cast<unsigned long>(position);
}

// Deletes root and its whole subtree, as the engine's FreeBlocks does; null is allowed.
inline void FreeTree(COutputBlock*& root)
{
    if (root != nullptr)
    {
        root->DeleteChildBlocks();
        delete root;
        root = nullptr;
    }
}

// Open flags of the message file (text mode).
constexpr UINT kSourceOpenFlags = CFile::modeRead | CFile::shareDenyWrite;
// Open flags of a header work file (text mode).
constexpr UINT kHeaderFileFlags = CFile::modeCreate | CFile::modeReadWrite;

// Makes a header work file ("HDR") in the work directory of unpacker and opens header on
// it, which then holds its path. On failure errorText names the file that was not made.
inline bool CreateHeaderFile(const CUnpacker& unpacker, CWfxFile& header, CString& errorText)
{
    CString name;
    if (!g_FileUtilities.CreateWorkFile(unpacker.m_WorkDirectory, "HDR", header, kHeaderFileFlags, name))
    {
        CString format;
        format.LoadString(IDS_HEADER_FILE_CREATE);
        errorText.Format(format.GetString(), name.GetString());
        return false;
    }
    header.m_strPath = name;
    return true;
}

// Starts a run of unpacker in workDirectory: resets the per-run state, opens source as the
// message file and checks the line pair. On failure *rc is CME_FILE_ERROR (errorText says
// which file could not be opened) or CME_NO_MEMORY.
inline bool BeginRun(CUnpacker& unpacker, const char* workDirectory, CWfxFile& file, const CString& source,
                     const LinePair& lines, _CME_RC* rc, CString& errorText)
{
    unpacker.m_WorkDirectory = workDirectory != nullptr ? workDirectory : "";
    unpacker.m_nDepth = 0;
    unpacker.m_nParts = 0;
    unpacker.m_NextCollisionNumber.clear();
    if (!file.Open(source, kSourceOpenFlags))
    {
        *rc = CME_FILE_ERROR;
        CString format;
        format.LoadString(IDS_SOURCE_OPEN);
        errorText.Format(format.GetString(), source.GetString());
        return false;
    }
    if (!lines.Valid())
    {
        *rc = CME_NO_MEMORY;
        return false;
    }
    return true;
}

// Holds the tree of a run: it is freed when the run fails, also when a file error passes
// through, unless Release hands it to the caller.
class TreeGuard
{
public:
    explicit TreeGuard(COutputBlock*& root) : m_root(root) {}
    ~TreeGuard() { FreeTree(m_root); }
    TreeGuard(const TreeGuard&) = delete;
    TreeGuard& operator=(const TreeGuard&) = delete;

    COutputBlock* Release()
    {
        COutputBlock* root = m_root;
        m_root = nullptr;
        return root;
    }

private:
    COutputBlock*& m_root;
};

} // namespace unpackrun
