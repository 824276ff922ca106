// A whole header read: unfolding, the MIME-Version check and every field parser, on a
// message file made of the input. Bit 0 of the first byte asks for the check.
#include "fuzz/fuzzfile.h"
#include "mimeengine/unpack/unpacker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string message = fuzzfile::Write("message.eml", data + 1, size - 1);
    const std::string& work = fuzzfile::FreshWork();
    CWfxFile file(CString(message.c_str()), CFile::modeRead, FALSE, TRUE);
    fuzzfile::LinePair pair;
    CUnpacker unpacker;
    unpacker.m_WorkDirectory = work.c_str();
    CString error;
    COutputBlock* block = nullptr;
    unpacker.ReadHeader(&pair.line, &pair.readAhead, file, message.c_str(), error, &block, data[0] & 1);
    delete block;
    return 0;
}
