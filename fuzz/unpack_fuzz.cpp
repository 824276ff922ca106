// A whole unpack: the input (after the first byte) is a message file for CMIMEEngine::Unpack
// or a bare multipart body for UnpackBody, as the first byte says, with or without decoding
// the leaf bodies. Runs in a fresh work directory a few levels below a private scratch
// directory; anything created, removed or changed outside the work directory aborts.
#include "fuzz/fuzzfile.h"
#include "mimeengine/engine/engine.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool body = (data[0] & 1) != 0;
    const BOOL extract = (data[0] & 2) == 0;
    const std::string path = fuzzfile::Write("message.eml", data + 1, size - 1);
    fuzzfile::WorkArea work;
    {
        CMIMEEngine engine;
        CString source(path.c_str());
        _CME_RC rc = CME_SUCCESS;
        COutputBlock* root = body ? engine.UnpackBody(source, work.Path().c_str(), extract, rc)
                                  : engine.Unpack(source, work.Path().c_str(), extract, rc);
        engine.FreeBlocks(root);
    }
    work.Check();
    return 0;
}
