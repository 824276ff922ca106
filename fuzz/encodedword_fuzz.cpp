// Encoded words: decoding arbitrary text, and encoding it with a multibyte default charset.
#include "codec/charset.h"
#include "fuzz/fuzzfile.h"
#include "mimeengine/mimeengine_flat.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<char> source = fuzzfile::Text(data, size);
    const size_t length = strlen(source.data());
    std::vector<char> decoded(length + 1);
    DecodeBase64String(source.data(), decoded.data());
    DecodeBase64Line(source.data(), decoded.data());
    // The bounded forms with a destination smaller than the result.
    DecodeBase64StringN(source.data(), decoded.data(), decoded.size() / 2 + 1);
    strcpy(g_szDefaultCharset, "iso-2022-jp");
    g_bNeedsEncoding = TRUE;
    std::vector<char> encoded(length / 38 * 75 + 76);
    EncodeBase64StringN(source.data(), encoded.data(), encoded.size());
    return 0;
}
