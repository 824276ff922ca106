// The quick codec paths against the general ones on any input: every base64 version and
// the uuencode groups against the portable loop, and each line as whole-line QP against the
// escape steps and as whole-line uuencode against the 80-byte line step, and the input as a
// buffered run through the QP and uuencode walks against their line-by-line forms and
// through every version of the base64 walk. Any difference aborts.
#include "codec/base64block.h"
#include "codec/qpblock.h"
#include "extract/bodycodecs.h"
#include "mimeengine/unpack/parseutilities.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using base64block::Level;
    const char* text = reinterpret_cast<const char*>(data);
    std::vector<unsigned char> a(size + 8), b(size + 8);
    std::vector<char> x((size + 2) / 3 * 4 + 8), y(x.size());
    const size_t used = base64block::Decode(text, size, a.data(), Level::Scalar);
    const size_t chars = base64block::Encode(data, size, x.data(), Level::Scalar);
    for (Level level : {Level::Sse41, Level::Avx2, Level::Avx512Vbmi})
    {
        if (base64block::Decode(text, size, b.data(), level) != used || memcmp(a.data(), b.data(), used / 4 * 3))
            abort();
        if (base64block::Encode(data, size, y.data(), level) != chars || memcmp(x.data(), y.data(), chars))
            abort();
    }
    std::vector<unsigned char> u(size / 4 * 3 + 4), w(u.size());
    if (base64block::DecodeUUGroups(text, size / 4, u.data(), Level::Scalar) !=
            base64block::DecodeUUGroups(text, size / 4, w.data(), Level::Sse41) ||
        memcmp(u.data(), w.data(), size / 4 * 3) != 0)
        abort();
    for (const uint8_t *p = data, *end = data + size, *stop; p < end; p = stop + 1)
    {
        stop = std::find(p, end, '\n');
        const std::string line(p, std::min<const uint8_t*>(stop, p + LINE_BUFFER_SIZE - 2));
        const std::string whole = line + "\n";
        std::string want;
        bool general = line.find('\0') != std::string::npos, soft = false;
        const char* rest = whole.c_str();
        for (const char* q; !general && (q = strchr(rest, '=')) != nullptr; rest = q + 3)
        {
            want.append(rest, q);
            unsigned char byte = 0;
            int escape = bodycodecs::QPEscape(q, &byte);
            soft = escape == 2;
            general = escape < 2;
            if (escape != 3)
                break;
            want += static_cast<char>(byte);
        }
        if (!general && !soft)
            want += (strlen(rest) >= 2 && rest[strlen(rest) - 2] == '\r')
                        ? std::string(rest)
                        : std::string(rest, strlen(rest) - 1) + "\r\n";
        std::vector<unsigned char> got(line.size() + qpblock::kSlack);
        size_t n = 0;
        if (qpblock::DecodeLine(line.data(), line.size(), got.data(), &n) == general ||
            (!general && want != std::string(got.begin(), got.begin() + static_cast<long>(n))))
            abort();

        char buffer[LINE_BUFFER_SIZE] = {};
        memcpy(buffer, whole.data(), whole.size());
        unsigned char one[64], two[64];
        unsigned int oneCount = 0, twoCount = 0;
        if (bodycodecs::UULineBytes(buffer, one, &oneCount) !=
                bodycodecs::UUTextBytes(line.data(), line.size(), two, &twoCount) ||
            oneCount != twoCount || memcmp(one, two, oneCount) != 0)
            abort();
    }
    // The input up to its last LF as a buffered run: the QP walks of every level against the
    // line-by-line one, the uuencode walk against UUTextBytes, and the base64 walk of every
    // version against the portable one, in both modes.
    const size_t run = static_cast<size_t>(
        std::find(std::make_reverse_iterator(data + size), std::make_reverse_iterator(data), '\n').base() - data);
    // A "-" may begin a delimiter.
    static const std::array<bool, 256> lead = [] {
        std::array<bool, 256> table{};
        table['-'] = true;
        return table;
    }();
    for (bool textMode : {false, true})
    {
        if (run == 0)
            break;
        const size_t room = 2 * run + 2048 + qpblock::kRunSlack;
        std::vector<unsigned char> p(room), q(room);
        size_t pUsed = 0, pLength = 0, qUsed = 0, qLength = 0;
        qpblock::DecodeRun(text, run, textMode, lead.data(), LINE_READ_LIMIT - 2, p.data(), room, &pUsed, &pLength,
                           qpblock::Level::Portable);
        for (qpblock::Level level :
             {qpblock::Level::Sse2, qpblock::Level::Ssse3, qpblock::Level::Avx2, qpblock::Level::Avx512Vbmi2})
        {
            qpblock::DecodeRun(text, run, textMode, lead.data(), LINE_READ_LIMIT - 2, q.data(), room, &qUsed, &qLength,
                               level);
            if (pUsed != qUsed || pLength != qLength || memcmp(p.data(), q.data(), pLength) != 0)
                abort();
        }
        size_t count = 0;
        const size_t uuUsed = bodycodecs::UUTextRun(text, run, textMode, p.data(), room, &count);
        std::string want;
        for (size_t at = 0; at < uuUsed;)
        {
            const size_t end = static_cast<size_t>(std::find(text + at, text + uuUsed, '\n') - text);
            const size_t n = end - at - (textMode && end > at && text[end - 1] == '\r');
            unsigned char bytes[72];
            unsigned int got = 0;
            if (end == uuUsed || bodycodecs::UUTextBytes(text + at, n, bytes, &got) != CME_SUCCESS)
                abort();
            want.append(reinterpret_cast<char*>(bytes), got);
            at = end + 1;
        }
        if (want != std::string(reinterpret_cast<char*>(p.data()), count))
            abort();
        const size_t b64Used = base64block::DecodeRun(text, run, textMode, lead.data(), LINE_READ_LIMIT - 2, p.data(),
                                                      room, &pLength, Level::Scalar);
        for (Level level : {Level::Sse41, Level::Avx2, Level::Avx512Vbmi})
            if (base64block::DecodeRun(text, run, textMode, lead.data(), LINE_READ_LIMIT - 2, q.data(), room, &qLength,
                                       level) != b64Used ||
                qLength != pLength || memcmp(p.data(), q.data(), pLength) != 0)
                abort();
    }
    return 0;
}
