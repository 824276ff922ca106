// Quoted-printable decoding of one whole line held in place: long runs of plain bytes are
// copied at once, and only an "=" needs a look.
#pragma once

#include <cstddef>

namespace qpblock
{

// The value of an upper-case hexadecimal digit, kNoDigit for every other byte: quoted-printable
// escapes take upper case only.
constexpr unsigned char kNoDigit = 255;
struct HexTable
{
    unsigned char value[256];
    constexpr HexTable() : value()
    {
        for (int i = 0; i < 256; ++i)
            value[i] = kNoDigit;
        for (int i = 0; i < 10; ++i)
            value['0' + i] = static_cast<unsigned char>(i);
        for (int i = 0; i < 6; ++i)
            value['A' + i] = static_cast<unsigned char>(10 + i);
    }
};
inline constexpr HexTable kHex;

// Decodes the line text[0..n) (its line end not included) as the body decoder does a line
// ending in "\n": escapes become their bytes, a final "=" is a soft line break, and
// otherwise the line end becomes CR LF, or LF alone after a CR that ends the text: that CR
// is taken for the line end's own, so that a CR of the data right before a line end, read
// as text, merges with it (a CR decoded from "=0D" is data, and CR LF follows it). out must
// hold n + kSlack bytes; *length gets the bytes written. FALSE, with nothing to be used, for a
// line that holds a NUL or an "=" not followed by two upper-case hexadecimal digits: such
// lines take the general path. With vector FALSE, or where the processor has no vector
// path, the portable loop decodes; both give the same result.
constexpr size_t kSlack = 16;
bool DecodeLine(const char* text, size_t n, unsigned char* out, size_t* length, bool vector = true);

// The versions of DecodeRun: the portable loop, a vector walk that stops at every escape,
// and one that decodes escapes and takes the usual line ends in its vector steps (x86 with
// SSSE3, with AVX2 in steps twice as long, and with AVX-512 VBMI2 in those steps classified
// at once and gathered by one instruction). All give the same result.
enum class Level
{
    Portable,
    Sse2,
    Ssse3,
    Avx2,
    Avx512Vbmi2
};

// The best version this processor runs.
Level Best();

// Decodes whole lines of a buffered run text[0..n) (n > 0, text[n - 1] a LF), each as
// DecodeLine does the line without its line end: LF ends a line, and in text mode a CR
// right before it belongs to the line end. Stops before the first line that DecodeLine
// would refuse, that holds more than maxLine characters without its line end, that begins
// with a byte whose lead[] entry is TRUE (it may be a delimiter; an empty line is never
// one), or for which out (room bytes, at least maxLine + kRunSlack) may lack room.
// *used gets the raw bytes of the lines decoded, *length the bytes written. The portable
// level goes line by line through the portable DecodeLine; a level the processor lacks
// falls back to the best one below it.
constexpr size_t kRunSlack = 32;
void DecodeRun(const char* text, size_t n, bool textMode, const bool* lead, size_t maxLine, unsigned char* out,
               size_t room, size_t* used, size_t* length, Level level = Best());

// Whether DecodeLine has a vector path on this processor.
bool VectorAvailable();

} // namespace qpblock
