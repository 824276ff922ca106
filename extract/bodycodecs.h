// Internal pieces of the body decoders: the resumable byte-level steps (which tests call
// without files) and the buffered sink through which every binary decoder writes.
#pragma once

#include "mimeengine/platform/afx.h"

#include <cstddef>
#include <string>

class COutputBlock;

namespace bodycodecs
{

// Collects decoded bytes and hands them to a file in large chunks, so that decoding a
// large body costs a few Write calls per megabyte rather than one per line. With a null
// file the bytes are counted and dropped (a body whose data file was already chosen).
// holdBack bytes at the end are kept back until more data proves they are not the last
// ones: DropHeldBack() discards them, Finish() writes them.
class COutputSink
{
public:
    explicit COutputSink(CFile* file, size_t holdBack = 0) : m_file(file), m_holdBack(holdBack) {}
    COutputSink(const COutputSink&) = delete;
    COutputSink& operator=(const COutputSink&) = delete;

    void Put(const void* data, size_t n);
    void Put(unsigned char byte) { Put(&byte, 1); }
    // Forgets the last min(holdBack, pending) bytes not yet written.
    void DropHeldBack();
    // Writes every pending byte, the held-back ones included.
    void Finish();

private:
    void Drain(size_t keep);

    enum
    {
        CHUNK = 64 * 1024
    };
    CFile* m_file;
    size_t m_holdBack;
    std::string m_pending;
};

// Quoted-printable escape at p (an "="): 3 with *byte set for two upper-case hexadecimal
// digits, 2 for a soft line break, 1 for the end of the text, 0 for anything else.
int QPEscape(const char* p, unsigned char* byte);

// Value of a base64 character (RFC 2045, Table 1), 255 for any other byte, "=" included.
unsigned char Base64Value(unsigned char c);

// Decodes four base64 characters into out: the number of bytes (0 to 3). Fewer than three
// means the group carried padding or a character outside the alphabet.
int Base64Quad(const char* four, unsigned char* out);

// State of one base64 body across its lines.
struct Base64State
{
    char carry[4] = {0, 0, 0, 0};
    int carryLength = 0; // characters of an unfinished group (0 to 3)
    bool inComment = false;
    bool ended = false; // the last group decoded was short: later lines are not decoded
};

// Decodes one line of a base64 body (without its line end, NUL-terminated) into out,
// keeping the carry, comment and ended state in state.
void Base64Line(Base64State& state, const char* line, COutputSink& out);

// Decodes one uuencoded line in place (the buffer holds at least 80 bytes) into out (room
// for 64 bytes): CME_SUCCESS, CME_UU_EMPTY_LINE or CME_UU_CHECKSUM; *count gets the
// number of bytes (also on a checksum mismatch).
unsigned int UULineBytes(char* line, unsigned char* out, unsigned int* count);

// TRUE for a uuencoded line without data as the body loops see it: "\n" alone, or a grave
// accent or space directly followed by "\n".
bool IsUUEmptyDataLine(const char* line);

// Decodes the value of a "name=" parameter (encoded words to plain text) into the
// block's suggested name.
void SetNameFromParameter(const CString& value, COutputBlock* block);

// Copies at most max bytes of text into a NUL-terminated buffer (size max + 1).
void CopyLineHead(const char* text, size_t available, char* out, size_t max);

} // namespace bodycodecs
