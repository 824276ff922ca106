// Helpers of the parsing tests: messages written with CR LF line ends, a parse run in a
// scratch work directory, and a compact dump of the block tree.
#pragma once

#include "mimeengine/engine/engine.h"
#include "support/testsupport.h"

#include <memory>
#include <string>
#include <vector>

namespace unpacktest
{

// Joins lines with CR LF (each line, the last one included, gets its line end).
inline std::string Crlf(const std::vector<std::string>& lines)
{
    std::string out;
    for (const auto& l : lines)
        out += l + "\r\n";
    return out;
}

// Children of a block as a vector (empty without a child list).
inline std::vector<COutputBlock*> Children(const CBlock* block)
{
    std::vector<COutputBlock*> out;
    CObList* list = block->GetChildBlockList();
    if (list == nullptr)
        return out;
    for (POSITION pos = list->GetHeadPosition(); pos != nullptr;)
        out.push_back(static_cast<COutputBlock*>(list->GetNext(pos)));
    return out;
}

// "TYPE/subtype" of one block, upper-case type name from its number.
inline std::string TypeOf(const COutputBlock* block)
{
    static const char* const names[] = {"UNKNOWN", "TEXT",  "MESSAGE", "MULTIPART",
                                        "IMAGE",   "AUDIO", "VIDEO",   "APPLICATION"};
    unsigned int t = block->GetContentType();
    std::string out = t < 8 ? names[t] : "?";
    return out + "/" + block->GetSubTypeString();
}

// Shape of a tree: TYPE/subtype, children in brackets, e.g. "MULTIPART/mixed[TEXT/plain]".
inline std::string Shape(const COutputBlock* block)
{
    std::string out = TypeOf(block);
    auto children = Children(block);
    if (!children.empty())
    {
        out += "[";
        for (size_t i = 0; i < children.size(); ++i)
            out += (i ? "," : "") + Shape(children[i]);
        out += "]";
    }
    return out;
}

// Owns a parsed tree and frees it with the engine.
struct TreeDeleter
{
    void operator()(COutputBlock* root) const
    {
        CMIMEEngine engine;
        engine.FreeBlocks(root);
    }
};
using Tree = std::unique_ptr<COutputBlock, TreeDeleter>;

// One parse of a message written into a scratch directory; the work directory is a
// subdirectory "work" of it.
struct Parse
{
    testsupport::ScratchDir scratch;
    std::string work;
    std::string source;
    Tree root;
    _CME_RC rc = CME_FAILURE;

    explicit Parse(const std::string& message, BOOL bExtract = TRUE, bool bodyOnly = false)
    {
        work = scratch.mkdir("work");
        source = scratch.file("message.eml");
        testsupport::WriteFile(source, message);
        CMIMEEngine engine;
        CString path(source.c_str());
        root.reset(bodyOnly ? engine.UnpackBody(path, work.c_str(), bExtract, rc)
                            : engine.Unpack(path, work.c_str(), bExtract, rc));
    }
    // The same through an unpacker whose part limit is maxParts.
    Parse(const std::string& message, BOOL bExtract, int maxParts)
    {
        work = scratch.mkdir("work");
        source = scratch.file("message.eml");
        testsupport::WriteFile(source, message);
        CUnpacker unpacker;
        unpacker.m_nMaxParts = maxParts;
        CString path(source.c_str());
        CString error;
        root.reset(unpacker.Unpack(path, work.c_str(), bExtract, &rc, error));
    }
    // Names of the files in the work directory (sorted, one per line).
    std::string Files() const { return testsupport::ListTree(work); }
    // The same without the header work files (".HDR"), which every header read leaves.
    std::string DataFiles() const
    {
        std::string all = Files(), out;
        for (size_t start = 0; start < all.size();)
        {
            size_t end = all.find('\n', start);
            std::string name = all.substr(start, end - start);
            if (name.size() < 4 || name.compare(name.size() - 4, 4, ".HDR") != 0)
                out += name + "\n";
            start = end + 1;
        }
        return out;
    }
};

} // namespace unpacktest
