// CMIMEEngine's composition side: building trees of input blocks, validating and freeing
// them, and handing a tree to the packer.
#include "mimeengine/engine/engine.h"

#include <new>
#include <vector>

// Allocates a block with the given properties and checks it with IsValid. Null on failure:
// CME_NO_MEMORY (error string kept) or CME_INVALID_BLOCK (error string = the rule's message).
CInputBlock* CMIMEEngine::InternalStartCreate(CMIMEPart::_CONTENT_TYPE contentType, CMIMEPart::_ENCODE_TYPE encodeType,
                                              const char* subType, const char* dataFile, const char* suggestName,
                                              const char* headerFile, BOOL generateHeader, const char* parameters)
{
    CInputBlock* block = new (std::nothrow)
        CInputBlock(contentType, encodeType, subType, dataFile, suggestName, headerFile, generateHeader, parameters);
    if (block == nullptr)
    {
        SetLastError(CME_NO_MEMORY, nullptr);
        return nullptr;
    }
    CString message;
    if (block->IsValid(&message))
        return block;
    SetLastError(CME_INVALID_BLOCK, &message);
    delete block;
    return nullptr;
}

CInputBlock* CMIMEEngine::StartCreate(const char* dataFile, const char* suggestName,
                                      CMIMEPart::_CONTENT_TYPE contentType, CMIMEPart::_ENCODE_TYPE encodeType,
                                      const char* subType, const char* headerFile, BOOL generateHeader,
                                      const char* parameters)
{
    return InternalStartCreate(contentType, encodeType, subType, dataFile, suggestName, headerFile, generateHeader,
                               parameters);
}

// The short form describes a part whose header the caller wrote: no header is generated and
// the data is copied unchanged, hence ENCODE_8BIT (a copying encoding that IsValid accepts
// without a generated header).
CInputBlock* CMIMEEngine::StartCreate(CMIMEPart::_CONTENT_TYPE contentType, const char* headerFile,
                                      const char* suggestName, const char* dataFile)
{
    return InternalStartCreate(contentType, CMIMEPart::ENCODE_8BIT, nullptr, dataFile, suggestName, headerFile, FALSE,
                               nullptr);
}

namespace
{

// The second half of both AddInputBlock forms: child, just made by StartCreate (null when
// that failed), is appended under parent. Null on failure: CME_NO_MEMORY when there is no
// child (the error string keeps the rule's text), else AddChildBlock's code, with the child
// deleted.
CInputBlock* AttachNewChild(CMIMEEngine& engine, CInputBlock* parent, CInputBlock* child)
{
    if (child == nullptr)
    {
        engine.SetLastError(CME_NO_MEMORY, nullptr);
        return nullptr;
    }
    CString unused;
    const _CME_RC rc = parent->AddChildBlock(child, unused);
    if (rc != CME_SUCCESS)
    {
        delete child;
        engine.SetLastError(rc, nullptr);
        return nullptr;
    }
    return child;
}

} // namespace

CInputBlock* CMIMEEngine::AddInputBlock(CInputBlock* parent, const char* dataFile, const char* suggestName,
                                        CMIMEPart::_CONTENT_TYPE contentType, CMIMEPart::_ENCODE_TYPE encodeType,
                                        const char* subType, const char* headerFile, BOOL generateHeader,
                                        const char* parameters)
{
    if (parent == nullptr)
    {
        SetLastError(CME_INVALID_PARAMETER, nullptr);
        return nullptr;
    }
    return AttachNewChild(
        *this, parent,
        StartCreate(dataFile, suggestName, contentType, encodeType, subType, headerFile, generateHeader, parameters));
}

CInputBlock* CMIMEEngine::AddInputBlock(CInputBlock* parent, CMIMEPart::_CONTENT_TYPE contentType,
                                        const char* headerFile, const char* suggestName, const char* dataFile)
{
    if (parent == nullptr)
    {
        SetLastError(CME_INVALID_PARAMETER, nullptr);
        return nullptr;
    }
    return AttachNewChild(*this, parent, StartCreate(contentType, headerFile, suggestName, dataFile));
}

// Checks every block with IsDataValid, parent before children, children in list order; the
// first failure ends the walk with its message in `message` and its UID in *uid (when uid is
// not null). A null root is no tree and fails without a message. The walk keeps its own
// stack, so a deep tree costs heap, not call depth.
BOOL CMIMEEngine::ValidateBlockList(CInputBlock* root, CString& message, long* uid)
{
    if (root == nullptr)
        return FALSE;
    std::vector<CBlock*> pending{root};
    while (!pending.empty())
    {
        CBlock* block = pending.back();
        pending.pop_back();
        if (!block->IsDataValid(&message))
        {
            if (uid != nullptr)
                *uid = block->GetUID();
            return FALSE;
        }
        CObList* children = block->GetChildBlockList();
        if (children == nullptr)
            continue;
        // Pushed tail first so that the head child is checked next.
        for (POSITION pos = children->GetTailPosition(); pos != nullptr;)
        {
            CBlock* child = static_cast<CBlock*>(children->GetPrev(pos));
            if (child != nullptr)
                pending.push_back(child);
        }
    }
    return TRUE;
}

// Deletes root and its whole subtree; TRUE for a null root.
BOOL CMIMEEngine::FreeBlocks(CBlock* root)
{
    if (root == nullptr)
        return TRUE;
    if (root->DeleteChildBlocks() != TRUE)
        return FALSE;
    delete root;
    return TRUE;
}

// Packs the tree through the packer, which formats any failure into the error string; the
// last error is never set here. With freeAfter, a successfully packed tree is freed.
_CME_RC CMIMEEngine::Pack(CInputBlock* root, char* outputPath, unsigned long size, BOOL freeAfter)
{
    const _CME_RC rc = m_Packer.Pack(root, outputPath, size, m_ErrorString);
    if (rc == CME_SUCCESS && freeAfter && !FreeBlocks(root))
        return CME_FAILURE;
    return rc;
}
