// CBlock::IsValid and CBlock::IsDataValid: the composition rules for one block and for a
// block inside a finished tree.
#include "mimeengine/model/block.h"
#include "platform/fileutilities.h"
#include "resources/stringtable.h"

namespace
{

// Loads string nID into *message when the caller asked for a message.
void LoadMessage(CString* message, UINT nID)
{
    if (message != nullptr)
        message->LoadString(nID);
}

// Loads string nID, a format with one "%s", and formats it with path into *message.
void LoadFileMessage(CString* message, UINT nID, const char* path)
{
    if (message == nullptr)
        return;
    CString format;
    format.LoadString(nID);
    message->Format(format, path);
}

} // namespace

// TRUE when the block's type, encoding, files and header flag fit together. The first
// rule that fails puts its message into *message (when given); on success *message is not
// touched.
BOOL CBlock::IsValid(CString* message)
{
    const BOOL composite = IsCompositePart();
    const bool hasData = m_DataFile[0] != '\0';
    const bool hasHeader = m_HeaderFile[0] != '\0';

    // A composite part is made of its children; a data file would never be written.
    if (composite && hasData)
    {
        LoadMessage(message, IDS_UNSPECIFY_DATA_FILE);
        return FALSE;
    }
    // Without a type the part must bring something to write: its data or its header.
    if (m_ContentType == CMIMEPart::CONTENT_UNKNOWN && !hasData && !hasHeader)
    {
        LoadMessage(message, IDS_UNKNOWN_TYPE_NEEDS_FILE);
        return FALSE;
    }
    // Without a generated header nothing else can tell how the data is to be written.
    if (m_EncodeType == CMIMEPart::ENCODE_UNKNOWN && !m_GenerateHeader)
    {
        LoadMessage(message, IDS_ENCODING_REQUIRED);
        return FALSE;
    }
    // A generated leaf header needs type, subtype and encoding all given or all derived.
    const bool typeGiven = m_ContentType != CMIMEPart::CONTENT_UNKNOWN;
    const bool subTypeGiven = m_SubTypeString[0] != '\0';
    const bool encodingGiven = m_EncodeType != CMIMEPart::ENCODE_UNKNOWN;
    const bool allGiven = typeGiven && subTypeGiven && encodingGiven;
    const bool noneGiven = !typeGiven && !subTypeGiven && !encodingGiven;
    if (!allGiven && !noneGiven && !composite && m_GenerateHeader)
    {
        LoadMessage(message, IDS_TYPES_TOGETHER);
        return FALSE;
    }
    return TRUE;
}

// IsValid, then the rules that only a finished tree can meet: composite parts have a child
// list, message parts a header file, and every named file exists.
BOOL CBlock::IsDataValid(CString* message)
{
    if (!IsValid(message))
        return FALSE;
    // Only the existence of the list counts: children unlinked later leave it in place.
    if (IsCompositePart() && m_ChildBlockList == nullptr)
    {
        LoadMessage(message, IDS_CHILDREN_MISSING);
        return FALSE;
    }
    if (m_ContentType == CMIMEPart::CONTENT_MESSAGE && m_HeaderFile[0] == '\0')
    {
        LoadMessage(message, IDS_MESSAGE_NEEDS_HEADER);
        return FALSE;
    }
    if (m_HeaderFile[0] != '\0' && !g_FileUtilities.FileExists(m_HeaderFile))
    {
        LoadFileMessage(message, IDS_FILE_NOT_FOUND, m_HeaderFile);
        return FALSE;
    }
    if (m_DataFile[0] != '\0' && !g_FileUtilities.FileExists(m_DataFile))
    {
        LoadFileMessage(message, IDS_FILE_NOT_FOUND, m_DataFile);
        return FALSE;
    }
    return TRUE;
}
