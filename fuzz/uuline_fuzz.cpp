// The uuencoded line decoders: DecodeUULine into a file and DecodeUULineToBuffer into a
// buffer that already holds bytes, on every line of the input cut to the 80-byte buffer
// the decoders are given.
#include "extract/decoders.h"
#include "fuzz/fuzzfile.h"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = fuzzfile::Directory() + "/uuline.bin";
    CFile output;
    if (!output.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite))
        abort();
    // The buffer the uuencode scan decodes into holds 45 bytes per line; a few lines' worth.
    unsigned char decoded[4 * 64];
    unsigned long count = 0;
    for (const uint8_t *p = data, *end = data + size, *stop; p < end; p = stop)
    {
        stop = std::find(p, end, '\n');
        stop += stop != end;
        // Exactly 80 bytes, as the callers guarantee: the line, cut to fit, and its NUL.
        char line[80] = {}, copy[80];
        memcpy(line, p, std::min<size_t>(stop - p, sizeof(line) - 1));
        memcpy(copy, line, sizeof(line));
        DecodeUULine(line, &output);
        if (count > sizeof(decoded) - 64)
            count = 0;
        DecodeUULineToBuffer(copy, decoded, &count);
        if (count > sizeof(decoded))
            abort();
    }
    output.Close();
    return 0;
}
