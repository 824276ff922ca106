// Pieces shared by the two parse runs (a whole message, a body without header): the line
// pair and the release of a partly built tree.
#pragma once

#include "mimeengine/unpack/unpacker.h"

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

} // namespace unpackrun
