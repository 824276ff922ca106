// Result codes of engine operations and the engine mode.
#pragma once

// Every result code: its enumerator, its value and what it means. Expanded below into the
// enumeration, and by callers into tables of names and messages, so that a code is listed
// once.
#define MIMEENGINE_RESULT_CODES(X)                                                                                     \
    X(CME_SUCCESS, 0, "success")                                                                                       \
    X(CME_FAILURE, 1, "the operation failed")                                                                          \
    X(CME_NO_MEMORY, 2, "out of memory")                                                                               \
    X(CME_FILE_ERROR, 4, "the file cannot be opened")                                                                  \
    X(CME_INVALID_PARAMETER, 6, "an argument is not valid")                                                            \
    X(CME_INVALID_BLOCK, 7, "a part is not valid")                                                                     \
    X(CME_OUTPUT_FILE_ERROR, 8, "an output file cannot be created")                                                    \
    X(CME_HEADER_FILE_ERROR, 9, "a header file cannot be read or created")                                             \
    X(CME_DATA_FILE_ERROR, 10, "a data file cannot be read")                                                           \
    X(CME_INVALID_HEADER, 11, "the header is not a valid MIME header")                                                 \
    X(CME_INVALID_ENCODING, 12, "a transfer encoding is not valid")                                                    \
    X(CME_MISSING_PARAMETER, 13, "a required parameter is missing")                                                    \
    X(CME_INVALID_CHARSET, 14, "a charset is not valid")                                                               \
    X(CME_NOT_LEAF, 15, "a part that must be a leaf has children")                                                     \
    X(CME_UU_BAD_MODE, 17, "a uuencoded file has a bad mode")                                                          \
    X(CME_UU_BAD_DATA, 18, "a uuencoded file has bad data")                                                            \
    X(CME_UU_BAD_BEGIN, 19, "a uuencoded file has a bad begin line")                                                   \
    X(CME_UU_EMPTY_LINE, 20, "a uuencoded file has an empty line")                                                     \
    X(CME_UU_CHECKSUM, 21, "a uuencoded file has a checksum error")                                                    \
    X(CME_UU_NO_BEGIN, 22, "no uuencoded file was found")

#define MIMEENGINE_RESULT_ENUMERATOR(name, value, text) name = value,
enum _CME_RC : unsigned int
{
    MIMEENGINE_RESULT_CODES(MIMEENGINE_RESULT_ENUMERATOR)
};
#undef MIMEENGINE_RESULT_ENUMERATOR

enum _ENCODE_MODE : unsigned int
{
    ENCODE_MODE_MESSAGE = 1
};
