// Start-up in a fresh process: run with MIMEENGINE_ACP set, it checks the default charset
// and the needs-encoding flag before any call into the library, then what they do.
// Usage: flat_acp_probe EXPECTED_CHARSET EXPECTED_FLAG EXPECTED_ENCODING_OF_abc
#include "codec/charset.h"
#include "mimeengine/mimeengine_flat.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

int g_failures = 0;

void Check(bool ok, const char* what)
{
    if (!ok)
    {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++g_failures;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
    {
        std::fprintf(stderr, "usage: %s CHARSET FLAG ENCODED_abc\n", argv[0]);
        return 2;
    }
    const bool flag = std::strcmp(argv[2], "1") == 0;

    // Nothing of the library has been called yet: the load hook must have run.
    std::printf("default charset %s, needs encoding %d\n", g_szDefaultCharset, g_bNeedsEncoding);
    Check(std::strcmp(g_szDefaultCharset, argv[1]) == 0, "default charset");
    Check((g_bNeedsEncoding != 0) == flag, "needs-encoding flag");

    char source[] = "abc";
    char encoded[256] = {0};
    EncodeBase64String(source, encoded);
    std::printf("abc encodes as %s\n", encoded);
    Check(std::strcmp(encoded, argv[3]) == 0, "EncodeBase64String of abc");

    // The global engine exists without any earlier call.
    long root = AddBlockList(0, "", "", MIMEENGINE_CONTENT_MULTIPART, MIMEENGINE_ENCODE_UNKNOWN, "mixed", nullptr);
    Check(root > 0, "AddBlockList with parent 0 right after load");
    long text = AddCharSetBlockList(0, "/dev/null", "note.txt");
    Check(flag ? text == -1 : text > root, "AddCharSetBlockList with parent 0");
    ClearBlockList();

    return g_failures == 0 ? 0 : 1;
}
