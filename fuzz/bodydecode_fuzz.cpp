// The leaf body decoders (base64, quoted-printable, BINARY, text, uuencode) through the
// part walk: the input becomes the body of the first part of a small multipart message,
// whose type and transfer encoding the first byte picks, followed by a second part and the
// close delimiter. The message is unpacked into a fresh work directory, and nothing may
// appear outside it.
#include "fuzz/fuzzfile.h"
#include "mimeengine/engine/engine.h"

#include <cstdint>
#include <string>

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
    const uint8_t choice = data[0];
    const BOOL extract = (choice & 0x40) == 0;

    std::string message = "MIME-Version: 1.0\r\n"
                          "Content-Type: multipart/mixed; boundary=\"=b1\"\r\n"
                          "\r\n"
                          "preamble\r\n"
                          "--=b1\r\n"
                          "Content-Type: ";
    message += kTypes[(choice >> 3) & 7];
    message += "\r\n";
    if (kEncodings[choice & 7][0] != '\0')
    {
        message += "Content-Transfer-Encoding: ";
        message += kEncodings[choice & 7];
        message += "\r\n";
    }
    message += "\r\n";
    message.append(reinterpret_cast<const char*>(data + 1), size - 1);
    message += "\r\n--=b1\r\n"
               "Content-Type: text/plain\r\n"
               "\r\n"
               "second\r\n"
               "--=b1--\r\n"
               "epilogue\r\n";

    const std::string path =
        fuzzfile::Write("message.eml", reinterpret_cast<const uint8_t*>(message.data()), message.size());
    fuzzfile::WorkArea work;
    {
        CMIMEEngine engine;
        CString source(path.c_str());
        _CME_RC rc = CME_SUCCESS;
        COutputBlock* root = engine.Unpack(source, work.Path().c_str(), extract, rc);
        engine.FreeBlocks(root);
    }
    work.Check();
    return 0;
}
