// Internal pieces of the body decoders: the resumable byte-level steps (which tests call
// without files) and the buffered sink through which every binary decoder writes.
#pragma once

#include "mimeengine/engine/rc.h"
#include "mimeengine/extract/boundary.h"
#include "mimeengine/platform/afx.h"
#include "platform/stdiobuffer.h"

#include <cstddef>
#include <memory>

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
    // The most that one Reserve may ask for.
    static constexpr size_t MAX_RESERVE = 16 * 1024;

    explicit COutputSink(CFile* file, size_t holdBack = 0);
    COutputSink(const COutputSink&) = delete;
    COutputSink& operator=(const COutputSink&) = delete;

    void Put(const void* data, size_t n);
    void Put(unsigned char byte) { Put(&byte, 1); }
    // Room for n (at most MAX_RESERVE) bytes to be decoded in place; Commit(k) then adds the
    // first k of them. A Reserve without Commit adds nothing.
    unsigned char* Reserve(size_t n) { return m_length + n <= m_capacity ? m_buf.get() + m_length : Grow(n); }
    void Commit(size_t n)
    {
        m_length += n;
        if (m_length >= CHUNK + m_holdBack)
            Drain(m_holdBack);
    }
    // Forgets the last min(holdBack, pending) bytes not yet written.
    void DropHeldBack();
    // Writes every pending byte, the held-back ones included.
    void Finish();

private:
    void Drain(size_t keep);
    // Reserve where the buffer lacks room: drains it or grows it.
    unsigned char* Grow(size_t n);

    enum : size_t
    {
        CHUNK = 256 * 1024,                // written once this much is pending
        CAPACITY = CHUNK + 2 * MAX_RESERVE // room for a chunk, the hold-back and a Reserve
    };
    CFile* m_file;
    size_t m_holdBack;
    std::unique_ptr<unsigned char[]> m_buf; // allocated on first use, grown up to CAPACITY
    size_t m_capacity = 0;
    size_t m_length = 0;
};

// The lines of a text-mode source, taken straight from its read buffer where a line lies
// whole in it, so that a decoder can look at a line in place before deciding how to
// handle it. Each line comes as ReadString(line, LINE_READ_LIMIT) would deliver it, and
// the file position moves the same way.
class CLineRun
{
public:
    explicit CLineRun(CStdioFile* source) : m_source(source), m_text(source->IsTextMode() != FALSE) {}

    // The next line without its line end (CR LF or LF in text mode, LF otherwise), when it
    // lies whole in the buffer and ReadString would deliver it in one piece. FALSE
    // otherwise; ReadString below then reads it.
    bool Peek(const char** text, size_t* length);
    // Consumes the line returned by the last Peek.
    void Take();
    // All the whole lines buffered from the next one on, as raw bytes ending with a LF, for a
    // decoder that walks them itself; FALSE where Peek would find no whole line.
    bool PeekRun(const char** text, size_t* length);
    // Consumes the first n bytes of the last PeekRun: whole lines, as Peek and Take would.
    void TakeRun(size_t n)
    {
        platform::StdioBuffer::SkipBuffered(*m_source, n);
        m_used += n;
    }
    // Whether a CR before a LF belongs to the line end.
    bool TextMode() const { return m_text; }
    // Forgets the buffered run, after the file was read by other means.
    void Forget()
    {
        m_run = nullptr;
        m_runLength = m_used = 0;
        m_waitForLineEnd = false;
    }
    // Reads the next line into line (LINE_BUFFER_SIZE bytes) exactly as
    // source->ReadString(line, LINE_READ_LIMIT) would.
    char* ReadString(char* line);

private:
    CStdioFile* m_source;
    bool m_text;
    const char* m_run = nullptr; // buffered whole lines, and how far they are consumed
    size_t m_runLength = 0;
    size_t m_used = 0;
    size_t m_peekRaw = 0;          // raw length of the peeked line, its line end included
    bool m_waitForLineEnd = false; // no whole line is buffered before the next line end
};

// Quoted-printable escape at p (an "="): 3 with *byte set for two upper-case hexadecimal
// digits, 2 for a soft line break, 1 for the end of the text, 0 for anything else.
int QPEscape(const char* p, unsigned char* byte);

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
// The same for the line text[0..n) followed by its line end, which is left as it is.
unsigned int UUTextBytes(const char* text, size_t n, unsigned char* out, unsigned int* count);

// Decodes the lines of a buffered run text[0..n) (raw bytes ending with a LF) as
// UUTextBytes does each, while they have the usual form: a length character other than "."
// promising 1 to 54 bytes, exactly its groups, and the line end (in text mode also CR LF),
// with no CR, LF, NUL or "~" among them. Stops before the first other line, or where out (room
// bytes) lacks 64 bytes for the next. *count gets the bytes written; returns the raw bytes of
// the lines decoded.
size_t UUTextRun(const char* text, size_t n, bool textMode, unsigned char* out, size_t room, size_t* count);

// How a reader of "begin" lines takes the file name: the X-UUENCODE body decoder
// (kBodyBegin) and the scan of messages without MIME header (kScanBegin) differ here.
struct UUBeginRules
{
    // The name ends at its first CR and loses white space at both ends; otherwise only at
    // its end.
    bool cutAtCR;
    // A drive ("C:") that begins a name without a separator is dropped.
    bool dropDrive;
};
constexpr UUBeginRules kBodyBegin{false, true};
constexpr UUBeginRules kScanBegin{true, false};

// Parses a "begin" line: from its first space, white space, a mode of three octal digits
// (CME_UU_BAD_MODE otherwise, also without a space), exactly one white-space character and
// a name that does not begin with white space (CME_UU_BAD_BEGIN otherwise). name gets the
// name's last component after "/" or "\\", as rules say; empty for "." or "..".
_CME_RC ParseUUBeginLine(const char* line, UUBeginRules rules, CString& name);

// TRUE for a uuencoded line without data as the body loops see it: "\n" alone, or a grave
// accent or space directly followed by "\n".
bool IsUUEmptyDataLine(const char* line);

// Decodes the value of a "name=" parameter (encoded words to plain text) into the
// block's suggested name.
void SetNameFromParameter(const CString& value, COutputBlock* block);

} // namespace bodycodecs
