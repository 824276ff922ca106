// Base64 and RFC 2047 "B" encoded words on NUL-terminated strings. Everything works in
// fixed buffers on the stack; destinations are written through a bounded writer so that
// the sized variants never pass their buffer's end.
#include "codec/base64block.h"
#include "codec/charset.h"
#include "mimeengine/mimeengine_flat.h"

#include <cstdint>
#include <cstring>

namespace
{

// Significant characters (alphabet and "=") of one word that are decoded; more are cut.
constexpr size_t kMaxSignificant = 255;
// Characters of the source from a "?B?" marker on that one word may span; the text is
// cut after kMaxRemainder - 1 characters, so a "?=" beyond them is not found.
constexpr size_t kMaxRemainder = 512;
// Source bytes per encoded word at most.
constexpr size_t kMaxChunk = 54;

// Source bytes per encoded word for a word prefix of prefixLength characters. An odd
// prefix length counts as the next even one. A charset name so long that no bytes would be
// left still gets one group per word, so that encoding always advances.
size_t ChunkSize(size_t prefixLength)
{
    const size_t even = (prefixLength + 1) & ~static_cast<size_t>(1);
    return even + 3 <= kMaxChunk ? kMaxChunk - even : 3;
}

// Appends to a caller's buffer of size bytes, dropping what would leave no room for the NUL.
struct BoundedWriter
{
    char* dst;
    size_t size;
    size_t len = 0;

    BoundedWriter(char* d, size_t n) : dst(d), size(n) {}
    void Put(char c)
    {
        if (len + 1 < size)
            dst[len++] = c;
    }
    void Put(const char* s, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            Put(s[i]);
    }
    void Put(const char* s)
    {
        for (; *s != '\0' && len + 1 < size; ++s)
            dst[len++] = *s;
    }
    void Rewind() { len = 0; }
    void Finish()
    {
        if (size != 0)
            dst[len] = '\0';
    }
};

// Decodes the Base64 text of one word and appends it up to its first zero byte.
// Groups are decoded on after a padded one; longer words are cut at kMaxSignificant
// characters, and a last group of fewer than four is dropped.
void DecodeWordText(const char* text, BoundedWriter& out)
{
    char work[kMaxSignificant];
    unsigned char decoded[kMaxRemainder];
    bool inComment = false;
    const size_t n = base64block::CollectSignificant(text, inComment, work, sizeof(work));
    size_t k = 0;
    for (size_t i = 0; i + 4 <= n; i += 4)
        k += static_cast<size_t>(base64block::DecodeGroup(work + i, decoded + k));
    for (size_t i = 0; i < k && decoded[i] != 0; ++i)
        out.Put(static_cast<char>(decoded[i]));
}

// First occurrence of the two characters "ab" in [from, end), or null.
const char* FindPair(const char* from, const char* end, char a, char b)
{
    for (const char* p = from; p + 1 < end; ++p)
    {
        if (p[0] == a && p[1] == b)
            return p;
    }
    return nullptr;
}

// Decodes the word whose "?B?" marker is at marker and appends it to out. Returns the
// position of its closing "?=", or null (nothing appended) when the closing "?=" does not
// lie within the kMaxRemainder - 1 characters that the working copy holds.
const char* DecodeWordAt(const char* marker, BoundedWriter& out)
{
    const char* end = marker + strnlen(marker, kMaxRemainder - 1);
    const char* text = marker + 3;
    const char* close = FindPair(text, end, '?', '=');
    if (close == nullptr)
        return nullptr;
    char work[kMaxRemainder];
    const size_t n = static_cast<size_t>(close - text);
    memcpy(work, text, n);
    work[n] = '\0';
    DecodeWordText(work, out);
    return close;
}

} // namespace

extern "C"
{

    void EncodeBase64StringN(const char* source, char* destination, size_t destinationSize)
    {
        if (source == nullptr || destination == nullptr || destinationSize == 0)
            return;
        BoundedWriter out(destination, destinationSize);
        if (*source == '\0' || !g_bNeedsEncoding)
        {
            out.Put(source);
            out.Finish();
            return;
        }

        char prefix[sizeof(g_szDefaultCharset) + 8];
        const size_t charsetLength = strnlen(g_szDefaultCharset, sizeof(g_szDefaultCharset) - 1);
        memcpy(prefix, "=?", 2);
        memcpy(prefix + 2, g_szDefaultCharset, charsetLength);
        memcpy(prefix + 2 + charsetLength, "?B?", 4);
        const size_t prefixLength = charsetLength + 5;
        const size_t chunk = ChunkSize(prefixLength);
        char encoded[(kMaxChunk + 2) / 3 * 4];

        const unsigned char* s = reinterpret_cast<const unsigned char*>(source);
        size_t remaining = strlen(source);
        bool first = true;
        while (remaining > 0 && out.len + 1 < out.size)
        {
            const size_t n = remaining < chunk ? remaining : chunk;
            if (!first)
                out.Put("\r\n ");
            first = false;
            out.Put(prefix, prefixLength);
            out.Put(encoded, base64block::Encode(s, n, encoded));
            out.Put("?=");
            s += n;
            remaining -= n;
        }
        out.Finish();
    }

    void DecodeBase64LineN(const char* source, char* destination, size_t destinationSize)
    {
        if (source == nullptr || destination == nullptr || destinationSize == 0)
            return;
        BoundedWriter out(destination, destinationSize);
        DecodeWordText(source, out);
        out.Finish();
    }

    void DecodeBase64StringN(const char* source, char* destination, size_t destinationSize)
    {
        if (source == nullptr || destination == nullptr || destinationSize == 0)
            return;
        BoundedWriter out(destination, destinationSize);
        out.Put(source);
        out.Finish();

        // Only a source that is an encoded word at its very first character is decoded; the
        // charset between "=?" and "?B?" is not interpreted, and Q-encoded words are skipped.
        if (strncmp(source, "=?", 2) != 0)
            return;
        const char* marker = strstr(source, "?B?");
        if (marker == nullptr)
            return;
        char decoded[kMaxRemainder];
        BoundedWriter firstWord(decoded, sizeof(decoded));
        const char* close = DecodeWordAt(marker, firstWord);
        if (close == nullptr)
            return;
        firstWord.Finish();
        out.Rewind();
        out.Put(decoded);

        // Further words are appended; the text between and after them is dropped. The next
        // "=?" is remembered so that a far one is not searched for again after every word.
        const char* nextOpen = nullptr;
        for (const char* p = close + 2; *p != '\0';)
        {
            if (nextOpen == nullptr || nextOpen < p)
            {
                nextOpen = strstr(p, "=?");
                if (nextOpen == nullptr)
                    break;
            }
            marker = strstr(p, "?B?");
            if (marker == nullptr)
                break;
            close = DecodeWordAt(marker, out);
            if (close == nullptr)
                break;
            p = close + 2;
        }
        out.Finish();
    }

    // The two-argument forms: a decoded text is never longer than its source, which the
    // destination must be able to hold; an encoding destination is sized by the caller.
    void EncodeBase64String(char* source, char* destination)
    {
        EncodeBase64StringN(source, destination, SIZE_MAX);
    }

    void DecodeBase64Line(char* source, char* destination)
    {
        if (source != nullptr)
            DecodeBase64LineN(source, destination, strlen(source) + 1);
    }

    void DecodeBase64String(char* source, char* destination)
    {
        if (source != nullptr)
            DecodeBase64StringN(source, destination, strlen(source) + 1);
    }

} // extern "C"
