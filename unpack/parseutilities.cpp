// CParseUtilities: unfolding of header lines, comment removal, option splitting and
// value extraction on header text, following the line model of the parser (lines read in
// text mode with the limit LINE_READ_LIMIT into LINE_BUFFER_SIZE-byte buffers).
#include "mimeengine/unpack/parseutilities.h"

#include "mimeengine/extract/wfxfile.h"
#include "platform/win32.h"
#include "unpack/parsetext.h"

#include <cstring>

using parsetext::IsWhite;
using parsetext::SkipWhite;

namespace parsetext
{

const char* FindChar(const char* text, char c)
{
    for (const char* p = text; *p != '\0'; p = NextCharacter(p))
    {
        if (*p == c)
            return p;
    }
    return nullptr;
}

bool JoinContinuation(char* line, const char* next, size_t size)
{
    const size_t lineLength = strlen(line);
    const size_t nextLength = strlen(next);
    if (lineLength + nextLength > size)
        return false;

    // RFC 822 unfolding removes only the line break; the white space that starts the
    // continuation stays. A lone CR left by text-mode reading counts as the line end.
    const char* cr = strrchr(line, '\r');
    const char* lf = cr != nullptr ? cr : strrchr(line, '\n');
    const size_t keep = lf != nullptr ? static_cast<size_t>(lf - line) : lineLength;
    // A line that came in pieces has no line end to remove; its join may not fit with the
    // NUL even though it passed the length test above.
    if (keep + nextLength + 1 > size)
        return false;
    memcpy(line + keep, next, nextLength + 1);
    return true;
}

} // namespace parsetext

_UNFOLD_RC CParseUtilities::UnfoldString(char* line, char* readAhead, CWfxFile& file, CStdioFile* copy)
{
    if (file.ReadString(readAhead, LINE_READ_LIMIT) == nullptr)
    {
        readAhead[0] = '\0';
        return UNFOLD_END_OF_FILE;
    }
    for (;;)
    {
        // A continuation line starts with white space; the empty line "\n" ends a header.
        if (!IsWhite(readAhead[0]) || readAhead[0] == '\n')
            return UNFOLD_NEXT_LINE;
        if (!parsetext::JoinContinuation(line, readAhead, LINE_BUFFER_SIZE))
            return UNFOLD_TOO_LONG;
        if (copy != nullptr)
            copy->WriteString(readAhead);
        if (file.ReadString(readAhead, LINE_READ_LIMIT) == nullptr)
        {
            readAhead[0] = '\0';
            return UNFOLD_END_OF_FILE;
        }
    }
}

void CParseUtilities::SwitchPointers(char*& a, char*& b)
{
    char* t = a;
    a = b;
    b = t;
}

int CParseUtilities::FilterData(char* text, CString& result)
{
    result.Empty();
    if (text == nullptr)
        return 1;
    char* p = SkipWhite(text);
    if (char* crlf = strstr(p, "\r\n"))
        *crlf = '\0';

    // Comments do not nest and quotes do not protect parentheses; the white space around
    // a removed comment stays.
    for (char* open = parsetext::FindChar(p, '('); open != nullptr; open = parsetext::FindChar(p, '('))
    {
        char* close = parsetext::FindChar(open, ')');
        if (close == nullptr)
            return 0;
        *open = '\0';
        result += p;
        p = close + 1;
    }
    result += p;
    return 1;
}

CStringList* CParseUtilities::ExtractOptions(CString text, int mode)
{
    if (text.IsEmpty())
        return nullptr;
    CStringList* list = new CStringList(10);
    const char* rest = text.GetString();
    bool lastPass = false;
    while (*rest != '\0' && !lastPass)
    {
        const char* separator;
        if (mode != 0)
        {
            separator = parsetext::FindChar(rest, ';');
        }
        else
        {
            // Space mode reads a list of words that a ">" ends: a ">" before the first
            // space, or no space at all, makes this the last option.
            const char* angle = parsetext::FindChar(rest, '>');
            const char* space = parsetext::FindChar(rest, ' ');
            if (angle == nullptr || space == nullptr || angle < space)
            {
                separator = angle;
                lastPass = true;
            }
            else
            {
                separator = space;
            }
        }

        if (separator == nullptr)
        {
            list->AddTail(CString(rest));
            break;
        }
        if (separator == rest)
        {
            list->AddTail(CString());
            ++rest;
            continue;
        }
        const char* end = separator;
        while (end > rest && IsWhite(end[-1]))
            --end;
        list->AddTail(CString(rest, static_cast<int>(end - rest)));
        rest = SkipWhite(separator + 1);
    }
    return list;
}

void CParseUtilities::ExtractStringOrQuotedString(const CString& text, int start, CString& value, int* quoted)
{
    if (quoted != nullptr)
        *quoted = 0;
    const int length = text.GetLength();
    int i = start < 0 ? 0 : start;
    while (i < length && IsWhite(text[i]))
        ++i;
    if (i >= length)
    {
        value.Empty();
        return;
    }
    int j = length - 1;
    while (j > i && IsWhite(text[j]))
        --j;
    if (j > i && text[i] == '"' && text[j] == '"')
    {
        ++i;
        --j;
        if (quoted != nullptr)
            *quoted = 1;
    }
    value = j >= i ? text.Mid(i, j - i + 1) : CString();
}

int CParseUtilities::GetParameterData(CStringList* list, const char* name, char* buffer, int size, int* quoted)
{
    if (list == nullptr || name == nullptr)
        return 0;
    const int nameLength = static_cast<int>(strlen(name));
    for (POSITION pos = list->GetHeadPosition(); pos != nullptr;)
    {
        const CString& option = list->GetNext(pos);
        // At least one character must follow the "="; no white space may precede it.
        if (option.GetLength() <= nameLength + 1 || option[nameLength] != '=')
            continue;
        if (_mbsicmp(option.Left(nameLength).GetString(), name) != 0)
            continue;
        CString value;
        ExtractStringOrQuotedString(option, nameLength + 1, value, quoted);
        if (buffer == nullptr || value.GetLength() > size - 1)
            return -1;
        memcpy(buffer, value.GetString(), static_cast<size_t>(value.GetLength()) + 1);
        return value.GetLength();
    }
    return 0;
}
