// Internal name tables of the part vocabulary: subtype names per main type and the
// access methods of external bodies. Rows are 32 bytes, row 0 is "UNKNOWN"; readers
// match names from row 1 upward, so row 0 is never matched.
#pragma once

#include "mimeengine/model/mimepart.h"

#include <cstddef>

enum : size_t
{
    NAME_ROW_SIZE = 32,

    CONTENT_TYPE_ROWS = 8,
    ENCODE_TYPE_ROWS = 8,
    TEXT_SUBTYPE_ROWS = 3,
    MULTIPART_SUBTYPE_ROWS = 5,
    MESSAGE_SUBTYPE_ROWS = 4,
    APPLICATION_SUBTYPE_ROWS = 3,
    IMAGE_SUBTYPE_ROWS = 4,
    AUDIO_SUBTYPE_ROWS = 2,
    VIDEO_SUBTYPE_ROWS = 2,
    ACCESS_TYPE_ROWS = 6
};

// The exported tables with their row counts, so that the definitions are checked against them.
extern const char szContType[CONTENT_TYPE_ROWS][NAME_ROW_SIZE];
extern const char szEncodeType[ENCODE_TYPE_ROWS][NAME_ROW_SIZE];

extern const char szTextSubType[TEXT_SUBTYPE_ROWS][NAME_ROW_SIZE];
extern const char szMultipartSubType[MULTIPART_SUBTYPE_ROWS][NAME_ROW_SIZE];
extern const char szMessageSubType[MESSAGE_SUBTYPE_ROWS][NAME_ROW_SIZE];
extern const char szApplicationSubType[APPLICATION_SUBTYPE_ROWS][NAME_ROW_SIZE];
extern const char szImageSubType[IMAGE_SUBTYPE_ROWS][NAME_ROW_SIZE];
extern const char szAudioSubType[AUDIO_SUBTYPE_ROWS][NAME_ROW_SIZE];
extern const char szVideoSubType[VIDEO_SUBTYPE_ROWS][NAME_ROW_SIZE];
extern const char szAccessType[ACCESS_TYPE_ROWS][NAME_ROW_SIZE];
