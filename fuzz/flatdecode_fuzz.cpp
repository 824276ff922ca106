// The flat decoding functions: the input (after the first byte) is a message file for
// DecodeMimeMessage (bit 0 of the first byte clear) or a bare multipart body for
// DecodeNetscapeMessage (bit 0 set); bit 1 set asks for the text only, without the
// attachment receivers. The results must be consistent (text on success, nothing on
// failure, every attachment a readable file in the call's own directory under TMPDIR), and
// after the frees nothing may be left in TMPDIR or anywhere outside it.
#include "fuzz/fuzzfile.h"
#include "mimeengine/mimeengine_flat.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string path = fuzzfile::Write("message.eml", data + 1, size - 1);
    static const std::string tmp = fuzzfile::Directory() + "/tmp/md";
    fuzzfile::Guarded([&] {
        char* text = nullptr;
        unsigned long count = 0;
        char** list = nullptr;
        const bool wantList = (data[0] & 2) == 0;
        const int ok =
            (data[0] & 1)
                ? DecodeNetscapeMessage(path.c_str(), &text, wantList ? &count : nullptr, wantList ? &list : nullptr)
                : DecodeMimeMessage(path.c_str(), &text, wantList ? &count : nullptr, wantList ? &list : nullptr);
        if (ok ? text == nullptr || (count == 0) != (list == nullptr)
               : text != nullptr || count != 0 || list != nullptr)
        {
            fprintf(stderr, "inconsistent result %d: text %p, %lu attachments, list %p\n", ok, (void*)text, count,
                    (void*)list);
            fuzzfile::Abort();
        }
        for (unsigned long i = 0; i < count; ++i)
        {
            FILE* f = fopen(list[i], "rb");
            if (f == nullptr || std::strncmp(list[i], tmp.c_str(), tmp.size()) != 0)
            {
                fprintf(stderr, "attachment %lu is no file of the call's directory: %s\n", i, list[i]);
                fuzzfile::Abort();
            }
            fclose(f);
        }
        FreeMimeMsgText(&text);
        FreeMimeAttachmentList(count, &list);
    });
    return 0;
}
