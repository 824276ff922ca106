// CMIMEEngine: the object through which callers compose and parse messages.
#pragma once

#include "mimeengine/engine/rc.h"
#include "mimeengine/model/block.h"
#include "mimeengine/pack/packer.h"
#include "mimeengine/unpack/unpacker.h"

class MIMEENGINE_API CMIMEEngine
{
public:
    CMIMEEngine();
    explicit CMIMEEngine(_ENCODE_MODE mode);
    CMIMEEngine(const CMIMEEngine& other);
    CMIMEEngine& operator=(const CMIMEEngine& other);
    // Releases the engine's own members; trees stay alive.
    ~CMIMEEngine();

    // Resets last error and error string and stores the mode.
    void Initialize(_ENCODE_MODE mode);
    _CME_RC GetLastError() const { return m_LastError; }
    const char* GetErrorString() const { return m_ErrorString; }
    // Stores the code, and the message when one is given.
    void SetLastError(_CME_RC rc, CString* message);
    void SetErrorString(const char* text);

    // Composition trees. Each new block is checked with IsValid; null on failure, with
    // last error and error string set.
    CInputBlock* StartCreate(const char* dataFile, const char* suggestName, CMIMEPart::_CONTENT_TYPE contentType,
                             CMIMEPart::_ENCODE_TYPE encodeType, const char* subType, const char* headerFile,
                             BOOL generateHeader, const char* parameters);
    // Short form: the header comes from headerFile and the data is copied unchanged.
    CInputBlock* StartCreate(CMIMEPart::_CONTENT_TYPE contentType, const char* headerFile, const char* suggestName,
                             const char* dataFile);
    CInputBlock* AddInputBlock(CInputBlock* parent, const char* dataFile, const char* suggestName,
                               CMIMEPart::_CONTENT_TYPE contentType, CMIMEPart::_ENCODE_TYPE encodeType,
                               const char* subType, const char* headerFile, BOOL generateHeader,
                               const char* parameters);
    CInputBlock* AddInputBlock(CInputBlock* parent, CMIMEPart::_CONTENT_TYPE contentType, const char* headerFile,
                               const char* suggestName, const char* dataFile);

    // Checks the whole tree, parent before children; the failing block's UID goes to *uid.
    BOOL ValidateBlockList(CInputBlock* root, CString& message, long* uid);
    // Deletes any tree, input or output; TRUE for null.
    BOOL FreeBlocks(CBlock* root);

    // Writes the message. With an empty outputPath and size non-zero, the generated path
    // is written back into outputPath (size bytes, cut to fit). freeAfter frees the tree
    // after a successful pack.
    _CME_RC Pack(CInputBlock* root, char* outputPath, unsigned long size, BOOL freeAfter);
    // Parses a message (or a multipart body without header) into a tree that the caller
    // frees with FreeBlocks; the decoded files stay in workDirectory.
    COutputBlock* Unpack(CString& source, const char* workDirectory, BOOL bExtract, _CME_RC& rc);
    COutputBlock* UnpackBody(CString& source, const char* workDirectory, BOOL bExtract, _CME_RC& rc);

private:
    CInputBlock* InternalStartCreate(CMIMEPart::_CONTENT_TYPE contentType, CMIMEPart::_ENCODE_TYPE encodeType,
                                     const char* subType, const char* dataFile, const char* suggestName,
                                     const char* headerFile, BOOL generateHeader, const char* parameters);

    CPacker m_Packer;
    CUnpacker m_Unpacker;
    _CME_RC m_LastError;
    CString m_ErrorString;
};
