// Blocks: one node per MIME part. CInputBlock is built by callers for composing,
// COutputBlock is produced by parsing. Text fields are fixed arrays; a setter given a
// longer value stores it cut at the field's width less one.
#pragma once

#include "mimeengine/engine/rc.h"
#include "mimeengine/export.h"
#include "mimeengine/model/mimepart.h"
#include "mimeengine/platform/afx.h"

class CUnpacker;

class MIMEENGINE_API CBlock : public CObject
{
public:
    enum
    {
        SUBTYPE_SIZE = 64,
        PATH_SIZE = 260,
        PARAMETERS_SIZE = 256,
        CHARSET_SIZE = 64
    };

    CBlock(CMIMEPart::_CONTENT_TYPE contentType = CMIMEPart::CONTENT_UNKNOWN,
           CMIMEPart::_ENCODE_TYPE encodeType = CMIMEPart::ENCODE_UNKNOWN, const char* subType = nullptr,
           const char* dataFile = nullptr, const char* suggestName = nullptr, const char* headerFile = nullptr,
           BOOL generateHeader = TRUE, const char* parameters = nullptr);
    // Deletes the child list, not the children.
    ~CBlock() override;

    // A type or encoding of 0 and a null string leave their field unchanged.
    void SetInputBlock(CMIMEPart::_CONTENT_TYPE contentType, CMIMEPart::_ENCODE_TYPE encodeType, const char* subType,
                       const char* dataFile, const char* suggestName, const char* headerFile, BOOL generateHeader,
                       const char* parameters);
    // The next block constructed gets UID n + 1.
    static void SetUIDStartFrom(long n);

    CMIMEPart::_CONTENT_TYPE GetContentType() const { return m_ContentType; }
    void SetContentType(CMIMEPart::_CONTENT_TYPE t) { m_ContentType = t; }
    CMIMEPart::_ENCODE_TYPE GetEncodeType() const { return m_EncodeType; }
    void SetEncodeType(CMIMEPart::_ENCODE_TYPE e) { m_EncodeType = e; }
    char* GetSubTypeString() { return m_SubTypeString; }
    const char* GetSubTypeString() const { return m_SubTypeString; }
    void SetSubTypeString(const char* s);
    char* GetHeaderFile() { return m_HeaderFile; }
    const char* GetHeaderFile() const { return m_HeaderFile; }
    void SetHeaderFile(const char* s);
    char* GetDataFile() { return m_DataFile; }
    const char* GetDataFile() const { return m_DataFile; }
    void SetDataFile(const char* s);
    CObList* GetChildBlockList() const { return m_ChildBlockList; }
    BOOL GetGenerateHeader() const { return m_GenerateHeader; }
    void SetGenerateHeader(BOOL b) { m_GenerateHeader = b; }
    long GetUID() const { return m_UID; }
    CBlock* GetParentBlock() const { return m_ParentBlock; }
    const char* GetParameters() const { return m_Parameters; }
    void SetParameters(const char* s);
    const char* GetSuggestName() const { return m_SuggestName; }
    void SetSuggestName(const char* s);
    const char* GetCharSetName() const { return m_CharSetName; }
    void SetCharSetName(const char* s);

    // Appends child and makes this block its parent: CME_INVALID_PARAMETER for a null
    // child, CME_NO_MEMORY when the list cannot be made. The message is not written.
    _CME_RC AddChildBlock(CBlock* child, CString& message);
    // Deletes the whole subtree below this block and the child list; always TRUE.
    BOOL DeleteChildBlocks();
    // Unlinks child (not deleted, parent left as it was); FALSE when it is not a child.
    BOOL RemoveParticularChild(CBlock* child);
    // Inserts newChild after existing; FALSE when existing is not a child.
    BOOL InsertAfter(CBlock* newChild, CBlock* existing);
    BOOL IsCompositePart() const;

    // Composition rules for one block; the failing rule's message goes to *message.
    BOOL IsValid(CString* message);
    // IsValid plus the rules a finished tree must meet (children, header file, files exist).
    BOOL IsDataValid(CString* message);

protected:
    CMIMEPart::_CONTENT_TYPE m_ContentType;
    CMIMEPart::_ENCODE_TYPE m_EncodeType;
    char m_SubTypeString[SUBTYPE_SIZE];
    char m_HeaderFile[PATH_SIZE];
    char m_DataFile[PATH_SIZE];
    CObList* m_ChildBlockList;
    BOOL m_GenerateHeader;
    long m_UID;
    CBlock* m_ParentBlock;
    char m_Parameters[PARAMETERS_SIZE];
    char m_SuggestName[PATH_SIZE];
    char m_CharSetName[CHARSET_SIZE];
};

class MIMEENGINE_API CInputBlock : public CBlock
{
public:
    CInputBlock(CMIMEPart::_CONTENT_TYPE contentType = CMIMEPart::CONTENT_UNKNOWN,
                CMIMEPart::_ENCODE_TYPE encodeType = CMIMEPart::ENCODE_UNKNOWN, const char* subType = nullptr,
                const char* dataFile = nullptr, const char* suggestName = nullptr, const char* headerFile = nullptr,
                BOOL generateHeader = TRUE, const char* parameters = nullptr);
    ~CInputBlock() override;
};

class MIMEENGINE_API COutputBlock : public CBlock
{
public:
    enum
    {
        EXTERNAL_SITE_SIZE = 128,
        BOUNDARY_SIZE = 73,
        CONTENT_ID_SIZE = 256,
        CONTENT_DESC_SIZE = 128
    };

    COutputBlock();
    ~COutputBlock() override;

    void SetOrigFileName(const char* s);
    const char* GetBoundary() const { return m_Boundary; }
    void SetBoundary(const char* s);
    const char* GetContentId() const { return m_ContentId; }
    void SetContentId(const char* s);
    const char* GetContentDesc() const { return m_ContentDesc; }
    void SetContentDesc(const char* s);
    CMIMEPart::_DISPOSE_TYPE GetDisposition() const { return m_Disposition; }
    void SetDisposition(CMIMEPart::_DISPOSE_TYPE d) { m_Disposition = d; }
    void SetBodyPosition(unsigned long pos) { m_BodyPosition = pos; }
    BOOL GetParseChildFlag() const { return m_ParseChildFlag; }
    void SetParseChildFlag(BOOL b) { m_ParseChildFlag = b; }
    unsigned int GetPartialPart() const { return m_PartialPart; }
    void SetPartialPart(unsigned int n) { m_PartialPart = n; }
    unsigned int GetPartialTotal() const { return m_PartialTotal; }
    void SetPartialTotal(unsigned int n) { m_PartialTotal = n; }
    CMIMEPart::_ACCESS_TYPE GetAccessType() const { return m_AccessType; }
    void SetAccessType(CMIMEPart::_ACCESS_TYPE a) { m_AccessType = a; }
    CMIMEPart::_CHAR_TYPE GetCharType() const { return m_CharType; }
    void SetCharType(CMIMEPart::_CHAR_TYPE c) { m_CharType = c; }

    // Read-only views of the fields that only the parser sets.
    unsigned int GetSubTypeIndex() const { return m_SubTypeIndex; }
    const char* GetExternalName() const { return m_ExternalName; }
    const char* GetExternalSite() const { return m_ExternalSite; }
    const char* GetOrigFileName() const { return m_OrigFileName; }
    unsigned long GetBodyPosition() const { return m_BodyPosition; }
    void SetSubTypeIndex(unsigned int n) { m_SubTypeIndex = n; }
    void SetExternalName(const char* s);
    void SetExternalSite(const char* s);

protected:
    friend class CUnpacker;

    unsigned int m_SubTypeIndex;
    char m_ExternalName[PATH_SIZE];
    char m_ExternalSite[EXTERNAL_SITE_SIZE];
    char m_OrigFileName[PATH_SIZE];
    char m_Boundary[BOUNDARY_SIZE];
    char m_ContentId[CONTENT_ID_SIZE];
    char m_ContentDesc[CONTENT_DESC_SIZE];
    CMIMEPart::_DISPOSE_TYPE m_Disposition;
    unsigned long m_BodyPosition;
    BOOL m_ParseChildFlag;
    unsigned int m_PartialPart;
    unsigned int m_PartialTotal;
    CMIMEPart::_ACCESS_TYPE m_AccessType;
    CMIMEPart::_CHAR_TYPE m_CharType;
};

// Copies src into a fixed field of n bytes, cut at n - 1 characters; null src empties it.
MIMEENGINE_API void CopyBlockField(char* dst, size_t n, const char* src);
