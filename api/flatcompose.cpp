// Flat composition interface: one library-wide tree built part by part through the global
// engine, addressed by block UIDs, packed with MIMEEncode.
#include "api/flatinternal.h"
#include "codec/charset.h"
#include "mimeengine/engine/engine.h"
#include "mimeengine/mimeengine_flat.h"

#include <new>
#include <vector>

namespace
{

// Root of the tree under construction; null when there is none.
CInputBlock* g_FlatRoot = nullptr;

// Highest value each enumeration accepts from a caller. Larger numbers would index past
// the name tables when the part is written.
constexpr unsigned int kMaxContentType = CMIMEPart::CONTENT_APPLICATION;
constexpr unsigned int kMaxEncodeType = CMIMEPart::ENCODE_UUENCODE;

// The block with this UID in the global tree, or null. Depth-first, each block before its
// children, children in list order, with an explicit stack so that a deep tree built by a
// caller cannot exhaust the call stack.
CInputBlock* FindBlock(long uid)
{
    if (g_FlatRoot == nullptr)
        return nullptr;
    std::vector<CBlock*> pending{g_FlatRoot};
    while (!pending.empty())
    {
        CBlock* block = pending.back();
        pending.pop_back();
        if (block->GetUID() == uid)
            return static_cast<CInputBlock*>(block);
        CObList* children = block->GetChildBlockList();
        if (children == nullptr)
            continue;
        // Pushed tail first so that the head child is visited next.
        for (POSITION pos = children->GetTailPosition(); pos != nullptr;)
            pending.push_back(static_cast<CBlock*>(children->GetPrev(pos)));
    }
    return nullptr;
}

void FreeFlatTree()
{
    if (g_FlatRoot == nullptr)
        return;
    FlatGlobalEngine().FreeBlocks(g_FlatRoot);
    g_FlatRoot = nullptr;
}

// Adds a part with a generated header and no parameters: under the block named by
// parentId while a tree exists and parentId is not 0, else as the root of a new tree,
// freeing the former one. Returns the new UID or -1.
long AddPart(long parentId, const char* dataFile, const char* suggestName, CMIMEPart::_CONTENT_TYPE contentType,
             CMIMEPart::_ENCODE_TYPE encodeType, const char* subType, const char* headerFile)
{
    CMIMEEngine& engine = FlatGlobalEngine();
    if (g_FlatRoot != nullptr && parentId != 0)
    {
        CInputBlock* parent = FindBlock(parentId);
        if (parent == nullptr)
            return -1;
        CInputBlock* child = engine.AddInputBlock(parent, dataFile, suggestName, contentType, encodeType, subType,
                                                  headerFile, TRUE, nullptr);
        return child != nullptr ? child->GetUID() : -1;
    }
    // The new root replaces the slot whether or not it could be made; the former tree is
    // freed rather than left unreachable.
    CInputBlock* root =
        engine.StartCreate(dataFile, suggestName, contentType, encodeType, subType, headerFile, TRUE, nullptr);
    FreeFlatTree();
    g_FlatRoot = root;
    return root != nullptr ? root->GetUID() : -1;
}

} // namespace

CInputBlock* FlatRootForTesting()
{
    return g_FlatRoot;
}

extern "C" long AddBlockList(long parentId, const char* dataFile, const char* suggestName, unsigned int contentType,
                             unsigned int encodeType, const char* subType, const char* headerFile)
{
    try
    {
        EnsureLibraryStarted();
        if (contentType > kMaxContentType || encodeType > kMaxEncodeType)
            return -1;
        return AddPart(parentId, dataFile, suggestName, static_cast<CMIMEPart::_CONTENT_TYPE>(contentType),
                       static_cast<CMIMEPart::_ENCODE_TYPE>(encodeType), subType, headerFile);
    }
    catch (...)
    {
        return -1;
    }
}

extern "C" long AddCharSetBlockList(long parentId, const char* dataFile, const char* suggestName)
{
    try
    {
        EnsureLibraryStarted();
        if (!g_bNeedsEncoding)
            return AddPart(parentId, dataFile, suggestName, CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain",
                           nullptr);

        // A text in a charset that needs encoding is always a base64 child of an existing
        // part; it never starts a tree.
        if (g_FlatRoot == nullptr || parentId == 0)
            return -1;
        CInputBlock* parent = FindBlock(parentId);
        if (parent == nullptr)
            return -1;
        CInputBlock* child =
            FlatGlobalEngine().AddInputBlock(parent, dataFile, suggestName, CMIMEPart::CONTENT_TEXT,
                                             CMIMEPart::ENCODE_BASE64, "plain", nullptr, TRUE, nullptr);
        if (child == nullptr)
            return -1;
        child->SetCharSetName(g_szDefaultCharset);
        return child->GetUID();
    }
    catch (...)
    {
        return -1;
    }
}

extern "C" long AddDeriveTypeBlockList(long parentId, const char* dataFile, const char* suggestName)
{
    try
    {
        EnsureLibraryStarted();
        // Type, subtype and encoding are derived from the data file name when the part is
        // written.
        return AddPart(parentId, dataFile, suggestName, CMIMEPart::CONTENT_UNKNOWN, CMIMEPart::ENCODE_UNKNOWN, nullptr,
                       nullptr);
    }
    catch (...)
    {
        return -1;
    }
}

extern "C" long MIMEEncode(char* outputPath, unsigned long size, int freeAfter)
{
    try
    {
        EnsureLibraryStarted();
        if (g_FlatRoot == nullptr)
            return -1;
        // A null path asks for a generated name like an empty one, with nowhere to return it.
        char emptyPath[1] = {'\0'};
        if (outputPath == nullptr)
        {
            outputPath = emptyPath;
            size = 0;
        }
        if (FlatGlobalEngine().Pack(g_FlatRoot, outputPath, size, freeAfter ? TRUE : FALSE) != CME_SUCCESS)
            return -1;
        if (freeAfter)
            g_FlatRoot = nullptr; // Pack has freed it
        return 0;
    }
    catch (...)
    {
        return -1;
    }
}

extern "C" void ClearBlockList(void)
{
    try
    {
        EnsureLibraryStarted();
        FreeFlatTree();
    }
    catch (...)
    {
        // Freeing raises nothing of its own; a failure here leaves the slot as it was.
    }
}
