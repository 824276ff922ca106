// The block tree: construction, field setters and the child-list operations of CBlock,
// CInputBlock and COutputBlock. Validation lives in blockvalidation.cpp.
#include "mimeengine/model/block.h"

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

namespace
{

// Next UID to hand out. Blocks built from several threads must still get distinct UIDs,
// so the counter is atomic even though the library itself starts no threads.
std::atomic<long> g_NextUID{1};

} // namespace

void CopyBlockField(char* dst, size_t n, const char* src)
{
    if (dst == nullptr || n == 0)
        return;
    size_t len = 0;
    if (src != nullptr)
    {
        // Bounded scan: src is read no further than the part that can be kept.
        len = strnlen(src, n - 1);
        std::memmove(dst, src, len);
    }
    dst[len] = '\0';
}

CBlock::CBlock(CMIMEPart::_CONTENT_TYPE contentType, CMIMEPart::_ENCODE_TYPE encodeType, const char* subType,
               const char* dataFile, const char* suggestName, const char* headerFile, BOOL generateHeader,
               const char* parameters)
    : m_ContentType(CMIMEPart::CONTENT_UNKNOWN),
      m_EncodeType(CMIMEPart::ENCODE_UNKNOWN), m_SubTypeString{}, m_HeaderFile{}, m_DataFile{},
      m_ChildBlockList(nullptr), m_GenerateHeader(TRUE), m_UID(g_NextUID.fetch_add(1, std::memory_order_relaxed)),
      m_ParentBlock(nullptr), m_Parameters{}, m_SuggestName{}, m_CharSetName{}
{
    SetInputBlock(contentType, encodeType, subType, dataFile, suggestName, headerFile, generateHeader, parameters);
}

CBlock::~CBlock()
{
    delete m_ChildBlockList;
    m_ChildBlockList = nullptr;
}

void CBlock::SetInputBlock(CMIMEPart::_CONTENT_TYPE contentType, CMIMEPart::_ENCODE_TYPE encodeType,
                           const char* subType, const char* dataFile, const char* suggestName, const char* headerFile,
                           BOOL generateHeader, const char* parameters)
{
    if (contentType != CMIMEPart::CONTENT_UNKNOWN)
        m_ContentType = contentType;
    if (encodeType != CMIMEPart::ENCODE_UNKNOWN)
        m_EncodeType = encodeType;
    if (subType != nullptr)
        SetSubTypeString(subType);
    if (dataFile != nullptr)
        SetDataFile(dataFile);
    if (suggestName != nullptr)
        SetSuggestName(suggestName);
    if (headerFile != nullptr)
        SetHeaderFile(headerFile);
    m_GenerateHeader = generateHeader;
    if (parameters != nullptr)
        SetParameters(parameters);
}

void CBlock::SetUIDStartFrom(long n)
{
    g_NextUID.store(n + 1, std::memory_order_relaxed);
}

void CBlock::SetSubTypeString(const char* s)
{
    CopyBlockField(m_SubTypeString, sizeof m_SubTypeString, s);
}

void CBlock::SetHeaderFile(const char* s)
{
    CopyBlockField(m_HeaderFile, sizeof m_HeaderFile, s);
}

void CBlock::SetDataFile(const char* s)
{
    CopyBlockField(m_DataFile, sizeof m_DataFile, s);
}

void CBlock::SetParameters(const char* s)
{
    CopyBlockField(m_Parameters, sizeof m_Parameters, s);
}

void CBlock::SetSuggestName(const char* s)
{
    CopyBlockField(m_SuggestName, sizeof m_SuggestName, s);
}

void CBlock::SetCharSetName(const char* s)
{
    CopyBlockField(m_CharSetName, sizeof m_CharSetName, s);
}

_CME_RC CBlock::AddChildBlock(CBlock* child, CString& /*message*/)
{
    if (child == nullptr)
        return CME_INVALID_PARAMETER;
    if (m_ChildBlockList == nullptr)
    {
        m_ChildBlockList = new (std::nothrow) CObList(10);
        if (m_ChildBlockList == nullptr)
            return CME_NO_MEMORY;
    }
    try
    {
        m_ChildBlockList->AddTail(child);
    }
    catch (const std::bad_alloc&)
    {
        // The list node could not be made: the tree stays as it was.
        return CME_NO_MEMORY;
    }
    child->m_ParentBlock = this;
    return CME_SUCCESS;
}

BOOL CBlock::DeleteChildBlocks()
{
    if (m_ChildBlockList == nullptr)
        return TRUE;
    // Depth-first with an explicit stack rather than recursion, so that a very deep tree
    // cannot exhaust the call stack. Each block is deleted after all of its descendants,
    // and siblings go from head to tail.
    struct Frame
    {
        CBlock* block;
        POSITION next; // next child of block still to visit
    };
    std::vector<Frame> stack;
    stack.push_back(Frame{this, m_ChildBlockList->GetHeadPosition()});
    while (!stack.empty())
    {
        Frame& top = stack.back();
        if (top.next != nullptr)
        {
            CBlock* child = static_cast<CBlock*>(top.block->m_ChildBlockList->GetNext(top.next));
            POSITION first = child->m_ChildBlockList != nullptr ? child->m_ChildBlockList->GetHeadPosition() : nullptr;
            stack.push_back(Frame{child, first});
            continue;
        }
        CBlock* done = top.block;
        stack.pop_back();
        delete done->m_ChildBlockList;
        done->m_ChildBlockList = nullptr;
        if (done != this)
            delete done;
    }
    return TRUE;
}

BOOL CBlock::RemoveParticularChild(CBlock* child)
{
    if (m_ChildBlockList == nullptr)
        return FALSE;
    POSITION pos = m_ChildBlockList->Find(child);
    if (pos == nullptr)
        return FALSE;
    m_ChildBlockList->RemoveAt(pos);
    return TRUE;
}

BOOL CBlock::InsertAfter(CBlock* newChild, CBlock* existing)
{
    if (m_ChildBlockList == nullptr)
        return FALSE;
    POSITION pos = m_ChildBlockList->Find(existing);
    if (pos == nullptr)
        return FALSE;
    m_ChildBlockList->InsertAfter(pos, newChild);
    if (newChild != nullptr)
        newChild->m_ParentBlock = this;
    return TRUE;
}

BOOL CBlock::IsCompositePart() const
{
    return m_ContentType == CMIMEPart::CONTENT_MESSAGE || m_ContentType == CMIMEPart::CONTENT_MULTIPART;
}

CInputBlock::CInputBlock(CMIMEPart::_CONTENT_TYPE contentType, CMIMEPart::_ENCODE_TYPE encodeType, const char* subType,
                         const char* dataFile, const char* suggestName, const char* headerFile, BOOL generateHeader,
                         const char* parameters)
    : CBlock(contentType, encodeType, subType, dataFile, suggestName, headerFile, generateHeader, parameters)
{
}

CInputBlock::~CInputBlock() = default;

COutputBlock::COutputBlock()
    : CBlock(), m_SubTypeIndex(0), m_ExternalName{}, m_ExternalSite{}, m_OrigFileName{}, m_Boundary{}, m_ContentId{},
      m_ContentDesc{}, m_Disposition(CMIMEPart::DISPOSE_UNKNOWN), m_BodyPosition(0), m_ParseChildFlag(FALSE),
      m_PartialPart(0), m_PartialTotal(0), m_AccessType(CMIMEPart::ACCESS_UNKNOWN), m_CharType(CMIMEPart::CHAR_UNKNOWN)
{
    m_EncodeType = CMIMEPart::ENCODE_8BIT;
}

COutputBlock::~COutputBlock() = default;

void COutputBlock::SetOrigFileName(const char* s)
{
    CopyBlockField(m_OrigFileName, sizeof m_OrigFileName, s);
}

void COutputBlock::SetBoundary(const char* s)
{
    CopyBlockField(m_Boundary, sizeof m_Boundary, s);
}

void COutputBlock::SetContentId(const char* s)
{
    CopyBlockField(m_ContentId, sizeof m_ContentId, s);
}

void COutputBlock::SetContentDesc(const char* s)
{
    CopyBlockField(m_ContentDesc, sizeof m_ContentDesc, s);
}

void COutputBlock::SetExternalName(const char* s)
{
    CopyBlockField(m_ExternalName, sizeof m_ExternalName, s);
}

void COutputBlock::SetExternalSite(const char* s)
{
    CopyBlockField(m_ExternalSite, sizeof m_ExternalSite, s);
}
