// Header block reading: copies a part's header into its own "HDR" work file, checks the
// MIME-Version line where asked, and hands every field of the copy to the field parsers.
#include "mimeengine/unpack/unpacker.h"
#include "platform/win32.h"
#include "resources/stringtable.h"
#include "unpack/parsetext.h"
#include "unpack/unpackrun.h"

#include <climits>
#include <cstring>
#include <new>

namespace
{

constexpr char kVersionField[] = "MIME-Version:";
constexpr size_t kVersionFieldLength = sizeof(kVersionField) - 1;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads the run of decimal digits at p into *number and returns its end. Values too large
// for an int stay at INT_MAX, which is no version anybody asks for.
const char* ReadNumber(const char* p, int* number)
{
    long long n = 0;
    for (; IsDigit(*p); ++p)
    {
        if (n < INT_MAX)
            n = n * 10 + (*p - '0');
    }
    *number = n < INT_MAX ? static_cast<int>(n) : INT_MAX;
    return p;
}

const char* FindDigit(const char* p)
{
    while (*p != '\0' && !IsDigit(*p))
        ++p;
    return *p != '\0' ? p : nullptr;
}

} // namespace

BOOL CUnpacker::GetMimeVersion(char** line, char** readAhead, CWfxFile& file, CStdioFile* copy, _UNFOLD_RC* unfold,
                               int* major, int* minor)
{
    *unfold = m_ParseUtilities.UnfoldString(*line, *readAhead, file, copy);
    if (*unfold == UNFOLD_TOO_LONG)
        return FALSE;

    // The text after the field name, without comments: "1.0 (produced by x)" reads 1.0.
    // An unclosed comment leaves nothing in which a digit could be found.
    const size_t length = strlen(*line);
    CString filtered;
    m_ParseUtilities.FilterData(*line + (length < kVersionFieldLength ? length : kVersionFieldLength), filtered);

    const char* p = FindDigit(filtered.GetString());
    if (p == nullptr)
        return FALSE;
    int majorNumber = 0;
    int minorNumber = 0;
    p = ReadNumber(p, &majorNumber);
    p = strchr(p, '.');
    if (p == nullptr)
        return FALSE;
    p = FindDigit(p + 1);
    if (p == nullptr)
        return FALSE;
    ReadNumber(p, &minorNumber);
    if (major != nullptr)
        *major = majorNumber;
    if (minor != nullptr)
        *minor = minorNumber;
    return TRUE;
}

BOOL CUnpacker::CheckMimeVersion(char** line, char** readAhead, CWfxFile& file, CStdioFile* copy, _UNFOLD_RC* unfold)
{
    int major = 0;
    int minor = 0;
    return GetMimeVersion(line, readAhead, file, copy, unfold, &major, &minor) && major == 1 && minor == 0;
}

_CME_RC CUnpacker::ReadHeader(char** line, char** readAhead, CWfxFile& file, const char* source, CString& errorText,
                              COutputBlock** block, BOOL mimeVersion)
{
    BOOL versionSeen = mimeVersion ? FALSE : TRUE;

    CWfxFile header(CString(), unpackrun::kHeaderFileFlags, FALSE, FALSE);
    if (!unpackrun::CreateHeaderFile(*this, header, errorText))
        return CME_HEADER_FILE_ERROR;

    // Copy the header up to the empty line. Only a line that is exactly "\n" ends it; a
    // line of spaces is a continuation and is copied. A line longer than one read arrives
    // in pieces; the piece that holds only its line end is not an empty line.
    _UNFOLD_RC unfold = UNFOLD_NOT_RUN;
    bool atLineStart = true;
    char* got = file.ReadString(*line, LINE_READ_LIMIT);
    while (got != nullptr)
    {
        if (atLineStart && strcmp(*line, "\n") == 0)
            break;
        header.WriteString(*line);
        const size_t length = strlen(*line);
        const bool lineStart = atLineStart;
        atLineStart = length > 0 && (*line)[length - 1] == '\n';
        if (lineStart && !versionSeen && !parsetext::IsWhite((*line)[0]) &&
            _strnicmp(*line, kVersionField, kVersionFieldLength) == 0)
        {
            // The continuation lines of the version field are copied by the unfolding.
            if (!CheckMimeVersion(line, readAhead, file, &header, &unfold))
            {
                errorText.LoadString(IDS_NO_MIME_VERSION);
                header.Close();
                return CME_INVALID_HEADER;
            }
            versionSeen = TRUE;
            if (unfold == UNFOLD_END_OF_FILE)
                break;
            if (unfold == UNFOLD_NEXT_LINE)
            {
                m_ParseUtilities.SwitchPointers(*line, *readAhead);
                atLineStart = true;
                continue;
            }
        }
        got = file.ReadString(*line, LINE_READ_LIMIT);
    }
    if (!versionSeen)
    {
        errorText.LoadString(IDS_NO_MIME_VERSION);
        header.Close();
        return CME_INVALID_HEADER;
    }

    if (*block == nullptr)
    {
        *block = new (std::nothrow) COutputBlock;
        if (*block == nullptr)
        {
            header.Close();
            return CME_NO_MEMORY;
        }
    }
    (*block)->SetHeaderFile(header.GetPath().GetString());
    (*block)->SetBodyPosition(unpackrun::RecordedBodyPosition(file.GetPosition()));
    (*block)->SetOrigFileName(source);

    // Parse the copy. A field parser that unfolded its field has already moved the line
    // read ahead into the current line.
    char value[LINE_BUFFER_SIZE];
    header.SeekToBegin();
    got = header.ReadString(*line, LINE_READ_LIMIT);
    while (got != nullptr)
    {
        unfold = UNFOLD_NOT_RUN;
        const UINT rc = ParseHeaderField(line, readAhead, header, &unfold, value, *block);
        if (rc != 0)
        {
            errorText.LoadString(rc);
            header.Close();
            return CME_INVALID_HEADER;
        }
        if (unfold == UNFOLD_END_OF_FILE)
            break;
        if (unfold == UNFOLD_NOT_RUN)
            got = header.ReadString(*line, LINE_READ_LIMIT);
    }
    header.Close();
    return CME_SUCCESS;
}
