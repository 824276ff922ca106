// The leaf body decoders (base64, quoted-printable, BINARY, text, uuencode) through the
// part walk: the input becomes the body of the first part of a small multipart message,
// followed by a second part and the close delimiter. The first byte picks the transfer
// encoding (bits 0-2) and the type (bits 3-5) of that part; bit 6 set: no decoding.
// Nothing may change outside the work directory.
#include "fuzz/fuzzfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const char* const kEncodings[] = {"base64", "quoted-printable", "binary",   "7bit",
                                             "8bit",   "x-uuencode",       "uuencode", ""};
    static const char* const kTypes[] = {"text/plain; charset=iso-8859-1",
                                         "application/octet-stream; name=\"a.bin\"",
                                         "image/gif",
                                         "audio/basic",
                                         "video/mpeg",
                                         "text/html",
                                         "message/rfc822",
                                         "application/x-unknown"};
    if (size == 0)
        return 0;
    const std::string encoding = kEncodings[data[0] & 7];
    fuzzfile::UnpackConfined("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"=b1\"\r\n\r\n"
                             "preamble\r\n--=b1\r\nContent-Type: " +
                                 std::string(kTypes[(data[0] >> 3) & 7]) + "\r\n" +
                                 (encoding.empty() ? "" : "Content-Transfer-Encoding: " + encoding + "\r\n") + "\r\n" +
                                 std::string(data + 1, data + size) +
                                 "\r\n--=b1\r\nContent-Type: text/plain\r\n\r\nsecond\r\n--=b1--\r\nepilogue\r\n",
                             false, (data[0] & 0x40) == 0);
    return 0;
}
