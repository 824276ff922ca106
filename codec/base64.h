// Working limits of the encoded-word functions (mimeengine_flat.h) and the Base64 tables
// they share, for the code and tests that need to know them.
#pragma once

#include <cstddef>

namespace base64
{

// Significant characters (alphabet and "=") of one word that are decoded; more are cut.
constexpr size_t kMaxSignificant = 255;
// Characters of the source from a "?B?" marker on that one word may span; the text is
// cut after kMaxRemainder - 1 characters, so a "?=" beyond them is not found.
constexpr size_t kMaxRemainder = 512;
// Source bytes per encoded word for a word prefix of prefixLength characters.
size_t ChunkSize(size_t prefixLength);
// Value of an alphabet character (0 to 63), 255 for every other byte, "=" included.
unsigned char Value(unsigned char c);

} // namespace base64
