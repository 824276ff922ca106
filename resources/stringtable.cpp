// The library's string table: messages, the MIME-Version line, the multipart preamble
// and the names read from the MIME database. Looked up by number through CString::LoadString.
#include "resources/stringtable.h"

#include "mimeengine/platform/cstring.h"

#include <cstddef>

namespace
{

struct StringResource
{
    UINT id;
    const char* text;
};

// Sorted by id; the texts are shown to users and written into messages as they stand.
constexpr StringResource kStrings[] = {
    {IDS_MIME_VERSION, "MIME-Version: 1.0\r\n"},
    {IDS_PREAMBLE, "If you are reading this text, you might want to\r\n"
                   "consider changing to a MIME compatible mail reader\r\n"
                   "that understands how to properly display multipart messages.\r\n"},

    {IDS_REG_CONTENT_TYPE, "Content Type"},
    {IDS_REG_MIME_DATABASE, "MIME\\Database\\Content Type\\"},
    {IDS_REG_EXTENSION, "Extension"},
    {IDS_REG_PLUGINS_MIME, "SOFTWARE\\MICROSOFT\\Internet Explorer\\plugins\\MIME"},
    {IDS_REG_PLUGINS_EXTENSION, "Extension"},

    {IDS_INVALID_BASIC_PROPERTIES, "The basic properties of a MIME part is not valid."},
    {IDS_FILE_NOT_FOUND, "The specified file '%s' cannot be found."},
    {IDS_HEADER_FILE_OPEN, "Header file '%s' cannot be opened."},
    {IDS_DATA_FILE_OPEN, "Data file '%s' cannot be opened."},
    {IDS_OUTPUT_FILE_ACCESS, "Output file '%s' cannot be accessed."},
    {IDS_UNSPECIFY_DATA_FILE, "Please un-specified the data file for the selected MIME type."},
    {IDS_UNKNOWN_TYPE_NEEDS_FILE, "Please select either the data or header file with the unknown MIME type."},
    {IDS_TYPES_TOGETHER, "Main type, sub type, and encode type have to be specified or unspecified together."},
    {IDS_SPECIFY_DATA_FILE, "Please specify a data file for the selected MIME type."},
    {IDS_CHILDREN_MISSING, "Child item(s) are missing under the highlighted item."},
    {IDS_MESSAGE_NEEDS_HEADER, "A header file must be specified for the highlighted (MESSAGE) item."},
    {IDS_ENCODING_REQUIRED, "The encoding type must be specified if the header is not automatically generated."},
    // Ends mid-sentence: this is the whole text callers have always received.
    {IDS_NO_MIME_VERSION, "The header of the input file either does not contain the MIME-Version header or"},

    {IDS_LINE_TOO_LONG, "Lines are too long in the file for parsing."},
    {IDS_NO_SUBTYPE, "Sub-type does not exist for the MIME encoded source."},
    {IDS_BAD_CONCATENATION,
     "An invalid concatenation sequence has been detected or the concatenated line is too long."},
    {IDS_SOURCE_OPEN, "Source file '%s' cannot be opened."},
    {IDS_HEADER_FILE_CREATE, "Header file '%s' cannot be created."},
};

constexpr bool IsSortedById()
{
    for (size_t i = 1; i < sizeof kStrings / sizeof kStrings[0]; ++i)
        if (kStrings[i - 1].id >= kStrings[i].id)
            return false;
    return true;
}
static_assert(IsSortedById(), "the lookup below needs the table sorted by id, without duplicates");

} // namespace

const char* AfxLookupStringResource(UINT nID)
{
    // Binary search over the sorted table.
    size_t lo = 0, hi = sizeof kStrings / sizeof kStrings[0];
    while (lo < hi)
    {
        size_t mid = lo + (hi - lo) / 2;
        if (kStrings[mid].id < nID)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < sizeof kStrings / sizeof kStrings[0] && kStrings[lo].id == nID)
        return kStrings[lo].text;
    return nullptr;
}
