/* Usage: flat_c_client BODY_FILE. A C client of the shared library: composes a message from
 * BODY_FILE, decodes it and frees it, printing what it saw for CTest (extra.cmake). Compiled
 * as C++, with the C++ headers too, it is the consumer of the installed package. */
#define _XOPEN_SOURCE 700
#include <mimeengine/mimeengine_flat.h>
#ifdef __cplusplus
#include <mimeengine/mimeengine.h>
#endif

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
/* Windows has neither mkdtemp nor setenv, and its temporary directory is named by TMP. The
 * library sees that directory as a full path (GetTempPath), Z:\tmp\... under Wine. */
static char* MakeTempDir(char* name)
{
    return _mktemp(name) != NULL && _mkdir(name) == 0 ? name : NULL;
}
static int UseTempDir(const char* dir, char* full, size_t size)
{
    return _fullpath(full, dir, size) == NULL || _putenv_s("TMP", dir) != 0;
}
#define RemoveTempDir _rmdir
#else
static char* MakeTempDir(char* name)
{
    return mkdtemp(name);
}
static int UseTempDir(const char* dir, char* full, size_t size)
{
    return snprintf(full, size, "%s", dir) < 0 || setenv("TMPDIR", dir, 1) != 0;
}
#define RemoveTempDir remove
#endif

int main(int argc, char** argv)
{
    char dir[] = "/tmp/mimeengine-c-client.XXXXXX", full[260], out[64], *text = NULL, **list = NULL;
    unsigned long count = 9;
    long root, part;
    size_t inside;
    if (argc != 2 || MakeTempDir(dir) == NULL || UseTempDir(dir, full, sizeof full) != 0)
        return 2;
    inside = strlen(full) + 1;
    sprintf(out, "%s/out.eml", dir);
    root = AddBlockList(0, "", "", MIMEENGINE_CONTENT_MULTIPART, MIMEENGINE_ENCODE_UNKNOWN, "mixed", NULL);
    part = AddBlockList(root, argv[1], "", MIMEENGINE_CONTENT_TEXT, MIMEENGINE_ENCODE_7BIT, "plain", NULL);
    printf("parts %d", part > root);
    part = AddBlockList(root, argv[1], "data.bin", MIMEENGINE_CONTENT_APPLICATION, MIMEENGINE_ENCODE_BASE64,
                        "octet-stream", NULL) -
           part;
    printf(" %ld encode %ld", part, MIMEEncode(out, 0, 1));
    printf(" %ld (freed)", MIMEEncode(out, 0, 1));
    printf(" decode %d", DecodeMimeMessage(out, &text, &count, &list));
    /* The attachment's path below the temporary directory; the whole path when outside. */
    printf(" %lu %s [%s]\n", count, strncmp(list[0], full, inside - 1) == 0 ? list[0] + inside : list[0], text);
    FreeMimeMsgText(&text);
    FreeMimeAttachmentList(count, &list);
    printf("freed %d %d", text == NULL, list == NULL);
    /* A list whose first path lies outside a work directory leaves the files alone. */
    list = (char**)malloc(sizeof *list);
    list[0] = strdup(out);
    FreeMimeAttachmentList(1, &list);
    printf(" foreign %d %d\n", list == NULL, fopen(out, "r") != NULL);
    return remove(out) + RemoveTempDir(dir);
}
