// The uuencode scan of a message without MIME header: the input follows a plain header, so
// Unpack hands the file to the scan, which finds "begin" lines and decodes the files they
// start into the work directory (or, with bit 0 of the first byte set, only lists them).
// Nothing may change outside the work directory.
#include "fuzz/fuzzfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0)
        fuzzfile::UnpackConfined("Subject: files\r\nFrom: someone\r\n\r\n" + std::string(data + 1, data + size), false,
                                 (data[0] & 1) == 0);
    return 0;
}
