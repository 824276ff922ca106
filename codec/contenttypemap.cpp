// The content type map: from a file extension to content type, subtype and encoding, and
// from a content type to a file extension. The MIME database (through the registry calls)
// is asked first, the built-in table after it.
#include "mimeengine/codec/contenttypemap.h"

#include "codec/contenttypetable.h"
#include "platform/fileutilities.h"
#include "platform/win32.h"
#include "resources/stringtable.h"

#include <cstring>

namespace
{

using CT = CMIMEPart::_CONTENT_TYPE;
using ET = CMIMEPart::_ENCODE_TYPE;

struct ExtensionRow
{
    const char* extension; // with its dot, compared without regard to case
    CT contentType;
    const char* subType;
    ET encodeType;
};

// Compared in this order against the whole extension.
constexpr ExtensionRow kExtensionTable[] = {
    {".TXT", CMIMEPart::CONTENT_TEXT, "plain", CMIMEPart::ENCODE_7BIT},
    {".RTF", CMIMEPart::CONTENT_TEXT, "richtext", CMIMEPart::ENCODE_BASE64},
    {".GIF", CMIMEPart::CONTENT_IMAGE, "gif", CMIMEPart::ENCODE_BASE64},
    {".JPG", CMIMEPart::CONTENT_IMAGE, "jpeg", CMIMEPart::ENCODE_BASE64},
    {".JPE", CMIMEPart::CONTENT_IMAGE, "jpeg", CMIMEPart::ENCODE_BASE64},
    {".JPEG", CMIMEPart::CONTENT_IMAGE, "jpeg", CMIMEPart::ENCODE_BASE64},
    {".MPG", CMIMEPart::CONTENT_VIDEO, "mpeg", CMIMEPart::ENCODE_BASE64},
    {".MPEG", CMIMEPart::CONTENT_VIDEO, "mpeg", CMIMEPart::ENCODE_BASE64},
    {".MP2", CMIMEPart::CONTENT_VIDEO, "mpeg", CMIMEPart::ENCODE_BASE64},
    {".MPA", CMIMEPart::CONTENT_VIDEO, "mpeg", CMIMEPart::ENCODE_BASE64},
    {".MPE", CMIMEPart::CONTENT_VIDEO, "mpeg", CMIMEPart::ENCODE_BASE64},
    {".PS", CMIMEPart::CONTENT_APPLICATION, "postscript", CMIMEPart::ENCODE_BASE64},
};

constexpr unsigned kFirstMainTypeRow = 1;
constexpr unsigned kLastMainTypeRow = 7;

// The registry reads values into a buffer of this many bytes.
constexpr DWORD kValueSize = 256;

// Encoding that goes with a content type taken from the MIME database.
ET EncodingForDatabaseType(CT type)
{
    switch (type)
    {
        case CMIMEPart::CONTENT_TEXT:
            return CMIMEPart::ENCODE_7BIT;
        case CMIMEPart::CONTENT_MESSAGE:
        case CMIMEPart::CONTENT_MULTIPART:
            return CMIMEPart::ENCODE_8BIT;
        case CMIMEPart::CONTENT_IMAGE:
        case CMIMEPart::CONTENT_AUDIO:
        case CMIMEPart::CONTENT_VIDEO:
        case CMIMEPart::CONTENT_APPLICATION:
            return CMIMEPart::ENCODE_BINARY;
        default:
            return CMIMEPart::ENCODE_UNKNOWN;
    }
}

// Reads the string value valueNameId of key subKey under root into value (kValueSize + 1
// bytes, always NUL-terminated). TRUE when the key opened and the value was read; the key
// is closed again in every case.
bool ReadRegistryString(HKEY root, const char* subKey, UINT valueNameId, char* value)
{
    value[0] = '\0';
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    CString valueName;
    valueName.LoadString(valueNameId);
    DWORD type = 0;
    DWORD size = kValueSize;
    const LONG rc = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
    {
        value[0] = '\0';
        return false;
    }
    // The stored text need not carry its NUL within the buffer.
    value[size < kValueSize ? size : kValueSize] = '\0';
    return true;
}

// The row of szContType for a content type, or row 0 for a value outside the table.
const char* MainTypeName(CT type)
{
    return szContType[type <= kLastMainTypeRow ? static_cast<unsigned>(type) : 0u];
}

bool HasExtension(const char* name)
{
    CString extension;
    g_FileUtilities.GetExtension(name, extension);
    return !extension.IsEmpty();
}

// Looks the extension up under HKEY_CLASSES_ROOT and applies its "Content Type" value.
// Returns with the block's type still CONTENT_UNKNOWN when the database does not decide.
void ApplyDatabaseContentType(const CString& extension, CBlock* block)
{
    char value[kValueSize + 1];
    if (!ReadRegistryString(HKEY_CLASSES_ROOT, extension, IDS_REG_CONTENT_TYPE, value))
        return;
    // Only "main/sub" with a non-empty sub counts; "text" and "text/" are ignored.
    const char* slash = std::strchr(value, '/');
    if (value[0] == '\0' || slash == nullptr || slash[1] == '\0')
        return;
    block->SetSubTypeString(slash + 1);
    const size_t mainLength = static_cast<size_t>(slash - value);
    if (mainLength > 0)
    {
        for (unsigned row = kFirstMainTypeRow; row <= kLastMainTypeRow; ++row)
        {
            if (std::strlen(szContType[row]) == mainLength && _strnicmp(value, szContType[row], mainLength) == 0)
            {
                block->SetContentType(static_cast<CT>(row));
                break;
            }
        }
    }
    block->SetEncodeType(EncodingForDatabaseType(block->GetContentType()));
}

// Appends to the block's suggested name the "Extension" value of the key prefix + type,
// when that value exists and is not empty.
void AppendDatabaseExtension(HKEY root, const CString& key, UINT valueNameId, CBlock* block)
{
    char value[kValueSize + 1];
    if (!ReadRegistryString(root, key, valueNameId, value) || value[0] == '\0')
        return;
    CString name(block->GetSuggestName());
    name += value;
    block->SetSuggestName(name);
}

} // namespace

void DeriveContentTypeFromTable(const char* fileName, CBlock* block)
{
    CString extension;
    g_FileUtilities.GetExtension(fileName != nullptr ? fileName : "", extension);
    if (!extension.IsEmpty())
    {
        for (const ExtensionRow& row : kExtensionTable)
        {
            if (_stricmp(extension, row.extension) == 0)
            {
                block->SetContentType(row.contentType);
                block->SetSubTypeString(row.subType);
                block->SetEncodeType(row.encodeType);
                return;
            }
        }
    }
    block->SetContentType(CMIMEPart::CONTENT_APPLICATION);
    block->SetSubTypeString("octet-stream");
    block->SetEncodeType(CMIMEPart::ENCODE_BASE64);
}

// Sets the block's content type, subtype and encoding from the extension of fileName (a
// bare name or a path): the MIME database first, then the built-in table. The block's type
// is CONTENT_UNKNOWN on entry and never on return. Always TRUE.
BOOL DeriveContentType(const char* fileName, CBlock* block)
{
    if (block == nullptr)
        return TRUE;
    CString extension;
    g_FileUtilities.GetExtension(fileName != nullptr ? fileName : "", extension);
    if (!extension.IsEmpty())
    {
        ApplyDatabaseContentType(extension, block);
        if (block->GetContentType() != CMIMEPart::CONTENT_UNKNOWN)
            return TRUE;
    }
    DeriveContentTypeFromTable(fileName, block);
    return TRUE;
}

// Completes a parsed block: an untyped block is typed from its suggested name, a suggested
// name without extension gets the extension the MIME database gives for the block's type,
// and a block that is still untyped becomes APPLICATION/Octet-stream (capital O, encoding
// kept). Always TRUE.
BOOL DeriveFileExtension(COutputBlock* block)
{
    if (block == nullptr)
        return TRUE;
    if (block->GetContentType() == CMIMEPart::CONTENT_UNKNOWN && block->GetSuggestName()[0] != '\0')
        DeriveContentType(block->GetSuggestName(), block);

    if (block->GetSuggestName()[0] != '\0' && !HasExtension(block->GetSuggestName()))
    {
        const CString type = CString(MainTypeName(block->GetContentType())) + "/" + block->GetSubTypeString();
        CString prefix;
        prefix.LoadString(IDS_REG_MIME_DATABASE);
        AppendDatabaseExtension(HKEY_CLASSES_ROOT, prefix + type, IDS_REG_EXTENSION, block);
        if (!HasExtension(block->GetSuggestName()))
        {
            prefix.LoadString(IDS_REG_PLUGINS_MIME);
            AppendDatabaseExtension(HKEY_LOCAL_MACHINE, prefix + "\\" + type, IDS_REG_PLUGINS_EXTENSION, block);
        }
    }

    if (block->GetContentType() == CMIMEPart::CONTENT_UNKNOWN)
    {
        block->SetContentType(CMIMEPart::CONTENT_APPLICATION);
        block->SetSubTypeString("Octet-stream");
    }
    return TRUE;
}

BOOL CContentTypeMap::DeriveContentType(const char* fileName, CBlock* block) const
{
    return ::DeriveContentType(fileName, block);
}

BOOL CContentTypeMap::DeriveFileExtension(COutputBlock* block) const
{
    return ::DeriveFileExtension(block);
}
