/* The peer side of bench/compare.sh: the same jobs done with GMime 3.
 *
 *   gmime_driver parse MESSAGE OUTDIR     decode every leaf part into OUTDIR/partN
 *   gmime_driver uu TEXT OUTDIR           decode the first uuencoded file of a plain text
 *   gmime_driver compose TEXT ATTACH OUT  text + attachment (base64) as multipart/mixed
 *   gmime_driver many LIST OUTDIR         parse every message named in LIST, one directory each
 */
#include <errno.h>
#include <fcntl.h>
#include <gmime/gmime.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

struct walk
{
    const char* dir;
    int n;
};

static void save_part(GMimeObject* parent, GMimeObject* part, gpointer data)
{
    struct walk* w = data;
    (void)parent;
    if (!GMIME_IS_PART(part))
        return;
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
    if (content == NULL)
        return;
    char path[4096];
    snprintf(path, sizeof path, "%s/part%d", w->dir, w->n++);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
    {
        perror(path);
        exit(1);
    }
    GMimeStream* out = g_mime_stream_fs_new(fd);
    g_mime_data_wrapper_write_to_stream(content, out);
    g_mime_stream_flush(out);
    g_object_unref(out);
}

static int parse_one(const char* message, const char* dir)
{
    int fd = open(message, O_RDONLY);
    if (fd < 0)
    {
        perror(message);
        return 1;
    }
    GMimeStream* stream = g_mime_stream_fs_new(fd);
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* msg = g_mime_parser_construct_message(parser, NULL);
    g_object_unref(parser);
    g_object_unref(stream);
    if (msg == NULL)
        return 1;
    struct walk w = {dir, 0};
    g_mime_message_foreach(msg, save_part, &w);
    g_object_unref(msg);
    return 0;
}

static int uu(const char* text, const char* dir)
{
    FILE* in = fopen(text, "rb");
    if (in == NULL)
    {
        perror(text);
        return 1;
    }
    char path[4096];
    snprintf(path, sizeof path, "%s/uu.bin", dir);
    FILE* out = fopen(path, "wb");
    char line[4096];
    while (fgets(line, sizeof line, in) != NULL && strncmp(line, "begin ", 6) != 0)
        ;
    GMimeEncoding state;
    g_mime_encoding_init_decode(&state, GMIME_CONTENT_ENCODING_UUENCODE);
    state.state |= GMIME_UUDECODE_STATE_BEGIN;
    static char buf[65536], decoded[65536 + 64];
    size_t got;
    while (!(state.state & GMIME_UUDECODE_STATE_END) && (got = fread(buf, 1, sizeof buf, in)) > 0)
    {
        size_t n = g_mime_encoding_step(&state, buf, got, decoded);
        fwrite(decoded, 1, n, out);
    }
    fclose(out);
    fclose(in);
    return 0;
}

static int compose(const char* text, const char* attach, const char* output)
{
    GMimeMessage* msg = g_mime_message_new(TRUE);
    g_mime_message_add_mailbox(msg, GMIME_ADDRESS_TYPE_FROM, NULL, "a@example.org");
    g_mime_message_add_mailbox(msg, GMIME_ADDRESS_TYPE_TO, NULL, "b@example.org");
    g_mime_message_set_subject(msg, "compose", NULL);
    GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");

    const char* files[2] = {text, attach};
    for (int i = 0; i < 2; ++i)
    {
        int fd = open(files[i], O_RDONLY);
        if (fd < 0)
        {
            perror(files[i]);
            return 1;
        }
        GMimeStream* stream = g_mime_stream_fs_new(fd);
        GMimeDataWrapper* content = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
        GMimePart* part = i == 0 ? GMIME_PART(g_mime_text_part_new_with_subtype("plain"))
                                 : g_mime_part_new_with_type("application", "octet-stream");
        g_mime_part_set_content(part, content);
        if (i == 1)
        {
            g_mime_part_set_filename(part, "attach.bin");
            g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
        }
        g_mime_multipart_add(mixed, GMIME_OBJECT(part));
        g_object_unref(part);
        g_object_unref(content);
        g_object_unref(stream);
    }
    g_mime_message_set_mime_part(msg, GMIME_OBJECT(mixed));
    g_object_unref(mixed);

    int fd = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    GMimeStream* out = g_mime_stream_fs_new(fd);
    GMimeStream* buffered = g_mime_stream_buffer_new(out, GMIME_STREAM_BUFFER_BLOCK_WRITE);
    g_mime_object_write_to_stream(GMIME_OBJECT(msg), NULL, buffered);
    g_mime_stream_flush(buffered);
    g_object_unref(buffered);
    g_object_unref(out);
    g_object_unref(msg);
    return 0;
}

static int many(const char* list, const char* dir)
{
    FILE* in = fopen(list, "r");
    if (in == NULL)
    {
        perror(list);
        return 1;
    }
    char line[4096], sub[4096];
    int count = 0, failed = 0;
    while (fgets(line, sizeof line, in) != NULL)
    {
        line[strcspn(line, "\n")] = '\0';
        if (line[0] == '\0')
            continue;
        snprintf(sub, sizeof sub, "%s/%d", dir, count++);
        mkdir(sub, 0755);
        failed += parse_one(line, sub);
    }
    fclose(in);
    printf("%d messages, %d failed\n", count, failed);
    return 0;
}

int main(int argc, char** argv)
{
    g_mime_init();
    int rc = 2;
    if (argc == 4 && strcmp(argv[1], "parse") == 0)
        rc = parse_one(argv[2], argv[3]);
    else if (argc == 4 && strcmp(argv[1], "uu") == 0)
        rc = uu(argv[2], argv[3]);
    else if (argc == 5 && strcmp(argv[1], "compose") == 0)
        rc = compose(argv[2], argv[3], argv[4]);
    else if (argc == 4 && strcmp(argv[1], "many") == 0)
        rc = many(argv[2], argv[3]);
    else
        fprintf(stderr, "usage: see the head of gmime_driver.c\n");
    g_mime_shutdown();
    return rc;
}
