// A whole header read: unfolding, the MIME-Version check and every field parser, on a
// message file made of the input. The first byte chooses whether the check is made.
#include "fuzz/fuzzfile.h"
#include "mimeengine/unpack/unpacker.h"

#include <cstdint>
#include <filesystem>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const BOOL mimeVersion = data[0] & 1;
    const std::string message = fuzzfile::Write("message.eml", data + 1, size - 1);
    const std::string work = fuzzfile::Directory() + "/work";
    std::filesystem::remove_all(work);
    std::filesystem::create_directory(work);

    CWfxFile file(CString(message.c_str()), CFile::modeRead, FALSE, TRUE);
    std::vector<char> first(LINE_BUFFER_SIZE), second(LINE_BUFFER_SIZE);
    char* line = first.data();
    char* readAhead = second.data();
    CUnpacker unpacker;
    unpacker.m_WorkDirectory = work.c_str();
    CString error;
    COutputBlock* block = nullptr;
    unpacker.ReadHeader(&line, &readAhead, file, message.c_str(), error, &block, mimeVersion);
    delete block;
    return 0;
}
