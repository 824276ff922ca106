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

int main(int argc, char** argv)
{
    char dir[] = "/tmp/mimeengine-c-client.XXXXXX", out[64], *text = NULL, **list = NULL;
    unsigned long count = 9;
    long root, part;
    if (argc != 2 || mkdtemp(dir) == NULL || setenv("TMPDIR", dir, 1) != 0)
        return 2;
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
    printf(" %lu %s [%s]\n", count, list[0] + sizeof dir, text);
    FreeMimeMsgText(&text);
    FreeMimeAttachmentList(count, &list);
    printf("freed %d %d", text == NULL, list == NULL);
    /* A list whose first path lies outside a work directory leaves the files alone. */
    list = (char**)malloc(sizeof *list);
    list[0] = strdup(out);
    FreeMimeAttachmentList(1, &list);
    printf(" foreign %d %d\n", list == NULL, fopen(out, "r") != NULL);
    return remove(out) + remove(dir);
}
