// Classification of composite parts: the multipart boundary and subtype, and the
// subtypes and parameters of message parts (rfc822, partial, external-body).
#include "mimeengine/unpack/unpacker.h"
#include "model/nametables.h"
#include "platform/win32.h"

#include <climits>
#include <cstring>
#include <memory>

namespace
{

enum : unsigned int
{
    MESSAGE_RFC822 = 1,
    MESSAGE_PARTIAL = 2,
    MESSAGE_EXTERNAL_BODY = 3
};

// Row index (from 1) of the first row that is a case-insensitive prefix of text, or 0.
unsigned int MatchRowPrefix(const char* text, const char (*rows)[NAME_ROW_SIZE], unsigned int count)
{
    for (unsigned int r = 1; r < count; ++r)
        if (_strnicmp(text, rows[r], strlen(rows[r])) == 0)
            return r;
    return 0;
}

// TRUE when option starts with name (which includes its "="), ignoring case.
bool OptionHasName(const CString& option, const char* name)
{
    const int n = static_cast<int>(strlen(name));
    if (option.GetLength() < n)
        return false;
    return _mbsicmp(option.Left(n), name) == 0;
}

// atoi without its undefined behaviour on overflow: leading white space, a sign, digits;
// the value saturates at the limits of int.
int ParseDecimal(const char* p)
{
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
    {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

using OptionList = std::unique_ptr<CStringList>;

} // namespace

// Finds the boundary parameter and stores "--" + boundary (cut to the field) as the
// delimiter; records the subtype row (unlisted subtypes count as MIXED). 0 or
// CME_INVALID_PARAMETER when there is no usable boundary.
_CME_RC CUnpacker::ParseMultipart(COutputBlock* block)
{
    OptionList options(m_pParseUtilities->ExtractOptions(CString(block->GetParameters()), 1));
    if (!options)
        return CME_INVALID_PARAMETER;

    for (POSITION pos = options->GetHeadPosition(); pos != nullptr;)
    {
        const CString& option = options->GetNext(pos);
        if (!OptionHasName(option, "boundary="))
            continue;
        CString value;
        m_pParseUtilities->ExtractStringOrQuotedString(option, 9, value);
        if (value.IsEmpty())
            return CME_INVALID_PARAMETER;
        if (block->GetBoundary()[0] == '\0')
        {
            block->SetBoundary(CString("--") + value);
            break;
        }
    }
    if (block->GetBoundary()[0] == '\0')
        return CME_INVALID_PARAMETER;

    const unsigned int row = MatchRowPrefix(block->GetSubTypeString(), szMultipartSubType, MULTIPART_SUBTYPE_ROWS);
    block->SetSubTypeIndex(row != 0 ? row : 1);
    return CME_SUCCESS;
}

// Classifies a message part: RFC822 (index 1), PARTIAL (2, with id, number and total) or
// EXTERNAL-BODY (3, with access method, name and site). Any other subtype turns the part
// into an application/octet-stream leaf (*leaf = 1). Returns 0, CME_INVALID_PARAMETER,
// CME_INVALID_ENCODING or CME_MISSING_PARAMETER; fields set before a failure stay set.
_CME_RC CUnpacker::ParseMessage(COutputBlock* block, int* leaf)
{
    *leaf = 0;
    const unsigned int row = MatchRowPrefix(block->GetSubTypeString(), szMessageSubType, MESSAGE_SUBTYPE_ROWS);
    block->SetSubTypeIndex(row);
    if (row == 0)
    {
        block->SetContentType(CMIMEPart::CONTENT_APPLICATION);
        block->SetSubTypeString("OCTET-STREAM");
        *leaf = 1;
    }

    OptionList options(m_pParseUtilities->ExtractOptions(CString(block->GetParameters()), 1));
    if (!options && row != MESSAGE_RFC822)
        return CME_MISSING_PARAMETER;

    if (row == MESSAGE_PARTIAL)
    {
        if (block->GetEncodeType() != CMIMEPart::ENCODE_7BIT)
            return CME_INVALID_ENCODING;
        for (POSITION pos = options->GetHeadPosition(); pos != nullptr;)
        {
            const CString& option = options->GetNext(pos);
            CString value;
            if (OptionHasName(option, "id="))
            {
                m_pParseUtilities->ExtractStringOrQuotedString(option, 3, value);
                if (value.IsEmpty())
                    return CME_INVALID_PARAMETER;
                if (block->GetBoundary()[0] == '\0')
                    block->SetBoundary(value);
            }
            else if (OptionHasName(option, "number="))
            {
                m_pParseUtilities->ExtractStringOrQuotedString(option, 7, value);
                if (value.IsEmpty())
                    return CME_INVALID_PARAMETER;
                if (block->GetPartialPart() == 0)
                    block->SetPartialPart(static_cast<unsigned int>(ParseDecimal(value)));
            }
            else if (OptionHasName(option, "total="))
            {
                m_pParseUtilities->ExtractStringOrQuotedString(option, 6, value);
                if (value.IsEmpty())
                    return CME_INVALID_PARAMETER;
                if (block->GetPartialTotal() == 0)
                    block->SetPartialTotal(static_cast<unsigned int>(ParseDecimal(value)));
            }
        }
        if (block->GetBoundary()[0] == '\0' || block->GetPartialPart() == 0)
            return CME_MISSING_PARAMETER;
        return CME_SUCCESS;
    }

    if (row == MESSAGE_EXTERNAL_BODY)
    {
        if (block->GetEncodeType() != CMIMEPart::ENCODE_7BIT)
            return CME_INVALID_ENCODING;
        if (block->GetContentId()[0] == '\0')
            return CME_INVALID_PARAMETER;

        bool accessGiven = false;
        for (POSITION pos = options->GetHeadPosition(); pos != nullptr;)
        {
            const CString& option = options->GetNext(pos);
            if (option.IsEmpty())
                break;
            if (!OptionHasName(option, "ACCESS-TYPE="))
                continue;
            accessGiven = true;
            CString value;
            m_pParseUtilities->ExtractStringOrQuotedString(option, 12, value);
            if (value.IsEmpty())
                return CME_INVALID_PARAMETER;
            for (unsigned int r = 1; r < ACCESS_TYPE_ROWS; ++r)
            {
                if (_mbsicmp(value, szAccessType[r]) == 0)
                {
                    if (block->GetAccessType() == CMIMEPart::ACCESS_UNKNOWN)
                        block->SetAccessType(static_cast<CMIMEPart::_ACCESS_TYPE>(r));
                    break;
                }
            }
        }
        if (!accessGiven)
            return CME_MISSING_PARAMETER;

        // The two parameters that locate the body: NAME and SITE, or SUBJECT and SERVER.
        const char* nameOption = nullptr;
        const char* siteOption = nullptr;
        switch (block->GetAccessType())
        {
            case CMIMEPart::ACCESS_FTP:
            case CMIMEPart::ACCESS_TFTP:
            case CMIMEPart::ACCESS_LOCAL_FILE:
                nameOption = "NAME=";
                siteOption = "SITE=";
                break;
            case CMIMEPart::ACCESS_MAIL_SERVER:
                nameOption = "SUBJECT=";
                siteOption = "SERVER=";
                break;
            default:
                return CME_SUCCESS;
        }
        for (POSITION pos = options->GetHeadPosition(); pos != nullptr;)
        {
            const CString& option = options->GetNext(pos);
            const bool isName = OptionHasName(option, nameOption);
            if (!isName && !OptionHasName(option, siteOption))
                continue;
            CString value;
            m_pParseUtilities->ExtractStringOrQuotedString(
                option, static_cast<int>(strlen(isName ? nameOption : siteOption)), value);
            if (value.IsEmpty())
                return CME_INVALID_PARAMETER;
            if (isName)
                block->SetExternalName(value);
            else
                block->SetExternalSite(value);
        }
        if (block->GetExternalName()[0] == '\0' || block->GetExternalSite()[0] == '\0')
            return CME_MISSING_PARAMETER;
        return CME_SUCCESS;
    }

    return CME_SUCCESS;
}
