// The delimiter test shared by the part walk and every body decoder.
#include "mimeengine/extract/boundary.h"

#include "mimeengine/model/block.h"
#include "platform/win32.h"
#include "unpack/boundarylead.h"

#include <cstring>

// Classifies line against the delimiters of the multiparts that enclose block (the block
// itself when it is a multipart). RFC 2046 5.1.1: a delimiter line begins with "--" and
// the boundary; only the beginning of the line is compared, ignoring case, so trailing
// text or white space after the delimiter does not matter.
//
// Ancestors that are not multiparts (an embedded message/rfc822) are passed over: a
// forwarded message inside a multipart ends at that multipart's delimiter, and whatever
// lies beyond such an ancestor counts as an outer multipart.
namespace
{

// A boundary longer than the field holds was cut, so the field is only a prefix of the
// real delimiter; the close delimiter is then recognised by the "--" that ends the line
// (white space after it allowed).
bool EndsWithCloseMark(const char* rest)
{
    size_t n = strlen(rest);
    while (n > 0 && (rest[n - 1] == ' ' || rest[n - 1] == '\t' || rest[n - 1] == '\n' || rest[n - 1] == '\r'))
        --n;
    return n >= 2 && rest[n - 1] == '-' && rest[n - 2] == '-';
}

} // namespace

int IsBoundaryLine(const char* line, COutputBlock* block)
{
    if (line == nullptr || block == nullptr)
        return BOUNDARY_NONE;

    CBlock* current = block->GetContentType() == CMIMEPart::CONTENT_MULTIPART ? block : block->GetParentBlock();
    bool nearest = true;
    for (; current != nullptr; current = current->GetParentBlock(), nearest = false)
    {
        if (current->GetContentType() != CMIMEPart::CONTENT_MULTIPART)
            continue;
        // Parsed trees hold only output blocks; anything else has no delimiter to offer.
        const COutputBlock* multipart = dynamic_cast<const COutputBlock*>(current);
        if (multipart == nullptr)
            continue;
        const char* delimiter = multipart->GetBoundary();
        size_t length = strnlen(delimiter, COutputBlock::BOUNDARY_SIZE);
        // A multipart without a boundary would match every line.
        if (length == 0)
            continue;
        if (_strnicmp(line, delimiter, length) != 0)
            continue;
        // _strnicmp stopped at no NUL of line, so line holds at least length characters.
        bool close = line[length] == '-' && line[length + 1] == '-';
        if (!close && length == COutputBlock::BOUNDARY_SIZE - 1)
            close = EndsWithCloseMark(line + length);
        if (nearest)
            return close ? BOUNDARY_END : BOUNDARY_PART;
        return close ? BOUNDARY_OUTER_END : BOUNDARY_OUTER_PART;
    }
    return BOUNDARY_NONE;
}

CBoundaryLead::CBoundaryLead(COutputBlock* block)
{
    memset(m_lead, 0, sizeof m_lead);
    CBlock* current = block == nullptr                                          ? nullptr
                      : block->GetContentType() == CMIMEPart::CONTENT_MULTIPART ? block
                                                                                : block->GetParentBlock();
    for (; current != nullptr; current = current->GetParentBlock())
    {
        if (current->GetContentType() != CMIMEPart::CONTENT_MULTIPART)
            continue;
        const COutputBlock* multipart = dynamic_cast<const COutputBlock*>(current);
        if (multipart == nullptr)
            continue;
        const unsigned char first = static_cast<unsigned char>(multipart->GetBoundary()[0]);
        if (first == 0)
            continue;
        // The comparison ignores case; past ASCII every byte is kept as a candidate.
        if (first >= 0x80)
            memset(m_lead + 0x80, 1, 0x80);
        m_lead[first] = true;
        if (first >= 'a' && first <= 'z')
            m_lead[first - 'a' + 'A'] = true;
        if (first >= 'A' && first <= 'Z')
            m_lead[first - 'A' + 'a'] = true;
    }
}
