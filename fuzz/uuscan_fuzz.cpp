// The uuencode scan of a message without MIME header: the input follows a plain header, so
// Unpack hands the file to the scan, which finds "begin" lines and decodes the files they
// start into the work directory (or only lists them, as the first byte says). Nothing may
// appear outside the work directory.
#include "fuzz/fuzzfile.h"
#include "mimeengine/engine/engine.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const BOOL extract = (data[0] & 1) == 0;
    std::string message = "Subject: files\r\nFrom: someone\r\n\r\n";
    message.append(reinterpret_cast<const char*>(data + 1), size - 1);
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
