// A whole unpack: the input (after the first byte) is a message file for CMIMEEngine::Unpack
// (bit 0 clear) or a bare multipart body for UnpackBody (bit 0 set), decoding the leaf bodies
// unless bit 1 is set; nothing may change outside the work directory.
#include "fuzz/fuzzfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0)
        fuzzfile::UnpackConfined(std::string(data + 1, data + size), (data[0] & 1) != 0, (data[0] & 2) == 0);
    return 0;
}
