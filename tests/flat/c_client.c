/* A client written in C: composes a message through the flat interface, then decodes it
 * again, as a C program linked to libmimeengine would. */
#define _XOPEN_SOURCE 700
#include "mimeengine/mimeengine_flat.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int failures = 0;

#define CHECK(cond)                                                                                                    \
    do                                                                                                                 \
    {                                                                                                                  \
        if (!(cond))                                                                                                   \
        {                                                                                                              \
            fprintf(stderr, "%s:%d: FAILED: %s\n", __FILE__, __LINE__, #cond);                                         \
            ++failures;                                                                                                \
        }                                                                                                              \
    } while (0)

static int write_file(const char* path, const char* content)
{
    FILE* f = fopen(path, "wb");
    if (f == NULL)
        return 0;
    fputs(content, f);
    return fclose(f) == 0;
}

int main(void)
{
    char dir[] = "/tmp/mimeengine-c-client.XXXXXX";
    char text_path[256], data_path[256], out_path[256];
    char* text = NULL;
    unsigned long count = 0;
    char** list = NULL;
    char source[] = "Hello";
    char encoded[128];
    char decoded[128];
    long root, body, attachment;

    if (mkdtemp(dir) == NULL)
        return 2;
    setenv("TMPDIR", dir, 1);
    snprintf(text_path, sizeof text_path, "%s/body.txt", dir);
    snprintf(data_path, sizeof data_path, "%s/data.bin", dir);
    snprintf(out_path, sizeof out_path, "%s/out.eml", dir);
    CHECK(write_file(text_path, "Hello from C\n"));
    CHECK(write_file(data_path, "\001\002\003 binary"));

    /* Composing: a multipart root, a text body and an attachment typed by its name. */
    root = AddBlockList(0, "", "", MIMEENGINE_CONTENT_MULTIPART, MIMEENGINE_ENCODE_UNKNOWN, "mixed", NULL);
    CHECK(root > 0);
    body = AddBlockList(root, text_path, "", MIMEENGINE_CONTENT_TEXT, MIMEENGINE_ENCODE_7BIT, "plain", NULL);
    CHECK(body > root);
    attachment = AddBlockList(root, data_path, "data.bin", MIMEENGINE_CONTENT_APPLICATION, MIMEENGINE_ENCODE_BASE64,
                              "octet-stream", NULL);
    CHECK(attachment > body);
    CHECK(AddBlockList(root + 1000, text_path, "", MIMEENGINE_CONTENT_TEXT, MIMEENGINE_ENCODE_7BIT, "plain", NULL) ==
          -1);
    CHECK(MIMEEncode(out_path, 0, 1) == 0);
    CHECK(MIMEEncode(out_path, 0, 1) == -1); /* the tree was freed */
    ClearBlockList();

    /* Decoding it again. */
    CHECK(DecodeMimeMessage(out_path, &text, &count, &list) == 1);
    CHECK(text != NULL && strstr(text, "Hello from C") != NULL);
    CHECK(count == 1);
    CHECK(list != NULL && list[0] != NULL && strstr(list[0], "/md") != NULL);
    if (list != NULL && list[0] != NULL)
        CHECK(access(list[0], R_OK) == 0);
    FreeMimeMsgText(&text);
    CHECK(text == NULL);
    FreeMimeAttachmentList(count, &list);
    CHECK(list == NULL);

    CHECK(DecodeMimeMessage("/nonexistent/message.eml", &text, &count, &list) == 0);
    CHECK(text == NULL && count == 0 && list == NULL);

    /* The string functions. */
    EncodeBase64String(source, encoded);
    CHECK(strcmp(encoded, "Hello") == 0 || strncmp(encoded, "=?", 2) == 0);
    {
        char word[] = "=?iso-8859-1?B?SGVsbG8=?=";
        DecodeBase64String(word, decoded);
        CHECK(strcmp(decoded, "Hello") == 0);
    }

    unlink(text_path);
    unlink(data_path);
    unlink(out_path);
    rmdir(dir);
    if (failures == 0)
        printf("C client: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
