/* The flat interface of the mimeengine library, for callers without objects (C or C++).
 *
 * Content types, encodings and BOOL values are plain integers here; the numbers are those
 * of CMIMEPart::_CONTENT_TYPE and CMIMEPart::_ENCODE_TYPE and are listed below under C
 * names. A BOOL is an int: 0 is FALSE, anything else TRUE.
 *
 * No function of this header lets a C++ exception out. The composing functions share one
 * library-wide engine and tree and must not be called from several threads at once. */
#ifndef MIMEENGINE_FLAT_H
#define MIMEENGINE_FLAT_H

#include "mimeengine/export.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C"
{
#endif

    /* Main content types (CMIMEPart::_CONTENT_TYPE). */
    enum
    {
        MIMEENGINE_CONTENT_UNKNOWN = 0,
        MIMEENGINE_CONTENT_TEXT = 1,
        MIMEENGINE_CONTENT_MESSAGE = 2,
        MIMEENGINE_CONTENT_MULTIPART = 3,
        MIMEENGINE_CONTENT_IMAGE = 4,
        MIMEENGINE_CONTENT_AUDIO = 5,
        MIMEENGINE_CONTENT_VIDEO = 6,
        MIMEENGINE_CONTENT_APPLICATION = 7
    };

    /* Content transfer encodings (CMIMEPart::_ENCODE_TYPE). */
    enum
    {
        MIMEENGINE_ENCODE_UNKNOWN = 0,
        MIMEENGINE_ENCODE_7BIT = 1,
        MIMEENGINE_ENCODE_QUOTED_PRINTABLE = 2,
        MIMEENGINE_ENCODE_BASE64 = 3,
        MIMEENGINE_ENCODE_8BIT = 4,
        MIMEENGINE_ENCODE_BINARY = 5,
        MIMEENGINE_ENCODE_X_UUENCODE = 6,
        MIMEENGINE_ENCODE_UUENCODE = 7
    };

    /* Base64 and RFC 2047 "B" encoded words on NUL-terminated strings. */
    MIMEENGINE_API void EncodeBase64String(char* source, char* destination);
    MIMEENGINE_API void DecodeBase64Line(char* source, char* destination);
    MIMEENGINE_API void DecodeBase64String(char* source, char* destination);

    /* ---- Composing ------------------------------------------------------------------------
     * A message is built as one library-wide tree. Each adding function returns the UID of
     * the part it created (a positive number), or -1 on failure. A UID passed back as
     * parentId adds the new part as the last child of that part. parentId 0, or any parentId
     * while no tree exists, starts a new tree with the new part as its root; a tree that
     * existed then is freed. Every part gets a generated header and no extra parameters. */

    /* A part with the given properties. contentType is 0 to 7, encodeType 0 to 7 (other
     * values fail); subType such as "plain" or "mixed"; headerFile names a file whose bytes
     * follow the generated header lines. Null strings count as empty. A multipart or message
     * part must have no data file; a part of type 0 needs a data or header file; type, subtype
     * and encoding are given all three or none (composite parts excepted). */
    MIMEENGINE_API long AddBlockList(long parentId, const char* dataFile, const char* suggestName,
                                     unsigned int contentType, unsigned int encodeType, const char* subType,
                                     const char* headerFile);

    /* A text/plain part in the library's default charset, which start-up picks from the ANSI
     * code page. For code pages whose charset needs encoding (932, 50220, 50221, 50222,
     * 51932) the part is base64-encoded and must be added under an existing part: parentId 0
     * or no tree gives -1. Otherwise it is 7bit and may start a tree. */
    MIMEENGINE_API long AddCharSetBlockList(long parentId, const char* dataFile, const char* suggestName);

    /* A part whose type, subtype and encoding are derived from the data file's name when the
     * message is packed. An empty data file gives -1. */
    MIMEENGINE_API long AddDeriveTypeBlockList(long parentId, const char* dataFile, const char* suggestName);

    /* Packs the tree into outputPath; 0 on success, -1 on failure (no tree, or packing
     * failed; the tree then stays). An empty outputPath writes a new ".MME" file in the
     * temporary directory; when size is not 0 that name is written back into outputPath, a
     * buffer of size bytes. A null outputPath acts as an empty one. freeAfter non-zero frees
     * the tree after a successful pack. The tree is not validated first. */
    MIMEENGINE_API long MIMEEncode(char* outputPath, unsigned long size, int freeAfter);

    /* Frees the tree, if any. */
    MIMEENGINE_API void ClearBlockList(void);

    /* ---- Decoding -------------------------------------------------------------------------
     * Each call parses the message into a new private directory (mode 0700) whose name begins
     * with "md" in the temporary directory, decoding every part into a file there.
     * On success (TRUE): *text holds the main text (the first text part, or the text/plain of
     * a leading multipart/alternative), an empty string when there is none; release it with
     * FreeMimeMsgText. When both attachmentCount and attachmentList are given, they receive
     * the number and the paths of the attachment files (list null when there are none); the
     * directory then stays until FreeMimeAttachmentList removes it. In every other case the
     * directory is removed before the call returns.
     * On failure (FALSE): *text is null, the count 0, the list null, nothing is left on disk.
     * A null text receiver fails. */
    MIMEENGINE_API int DecodeMimeMessage(const char* messagePath, char** text, unsigned long* attachmentCount,
                                         char*** attachmentList);

    /* The same for a multipart body without a message header. Parts marked inline are listed
     * as attachments as well. */
    MIMEENGINE_API int DecodeNetscapeMessage(const char* messagePath, char** text, unsigned long* attachmentCount,
                                             char*** attachmentList);

    /* Releases the text and sets *text to null; a null receiver or text does nothing. */
    MIMEENGINE_API void FreeMimeMsgText(char** text);

    /* Removes the work directory holding the attachments, with every file in it, releases the
     * paths and the list and sets *attachmentList to null. A count of 0 or a null receiver
     * or list does nothing. Resetting the count is the caller's. */
    MIMEENGINE_API void FreeMimeAttachmentList(unsigned long attachmentCount, char*** attachmentList);

    /* The same with the size of destination in bytes: the result is cut so that it and its
     * NUL fit; a size of 0 writes nothing. The two-argument forms assume a large enough buffer. */
    MIMEENGINE_API void EncodeBase64StringN(const char* source, char* destination, size_t destinationSize);
    MIMEENGINE_API void DecodeBase64LineN(const char* source, char* destination, size_t destinationSize);
    MIMEENGINE_API void DecodeBase64StringN(const char* source, char* destination, size_t destinationSize);

#ifdef __cplusplus
}
#endif

#endif
