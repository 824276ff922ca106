// The byte work of the transfer encoders, apart from the file loops in CPacker, so that it
// can be driven with any split of the input.
#pragma once

#include <cstddef>

namespace mimepack
{

// Base64: bytes per output line, bytes read at a time (whole lines, at least the file's
// buffer, so that reads go straight to the system), and the output of one full read.
constexpr size_t kBase64LineBytes = 54;
constexpr size_t kBase64ReadSize = 1214 * kBase64LineBytes;
constexpr size_t kBase64MaxLineLength = 74; // 72 characters and CR LF
constexpr size_t kBase64OutputSize = (kBase64ReadSize / kBase64LineBytes) * kBase64MaxLineLength;

// Encodes in[0..n) as base64 lines (RFC 2045 alphabet, "=" padding), one line of at most 72
// characters and CR LF per 54 input bytes, the last line shorter when n is not a multiple of
// 54. out must hold ceil(n / 54) * 74 bytes. Returns the number of bytes written; 0 for n 0.
size_t Base64EncodeLines(const unsigned char* in, size_t n, char* out);

// Quoted-printable: bytes read at a time, and the most any one call can write.
constexpr size_t kQPReadSize = 127;
constexpr size_t kQPMaxOutputPerByte = 6; // a soft line break and one "=XX"
constexpr size_t kQPOutputSize = (kQPReadSize + 1) * kQPMaxOutputPerByte;

// State of one quoted-printable encoding run. The last byte of each piece is held back
// until the next piece (or the end) shows what follows it.
struct QPEncoderState
{
    unsigned column = 0; // characters on the current output line
    int held = -1;       // byte not yet encoded, or -1
};

// TRUE for the byte values that are always written as "=XX".
bool QPMustEscape(unsigned char c);

// Encodes the held byte and in[0..n) except its last byte, which is held back. text keeps
// CR and LF of the data as themselves (the text-part rule). out must hold (n + 1) * 6 bytes.
// Returns the number of bytes written.
size_t QPEncodeStep(QPEncoderState& state, const unsigned char* in, size_t n, bool text, char* out);
// Encodes the held byte as the last byte of the data. out must hold 6 bytes.
size_t QPEncodeFinish(QPEncoderState& state, bool text, char* out);

} // namespace mimepack
