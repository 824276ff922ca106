// Result codes of engine operations and the engine mode.
#pragma once

enum _CME_RC : unsigned int
{
    CME_SUCCESS = 0,
    CME_FAILURE = 1,
    CME_NO_MEMORY = 2,
    CME_FILE_ERROR = 4,
    CME_INVALID_PARAMETER = 6,
    CME_INVALID_BLOCK = 7,
    CME_OUTPUT_FILE_ERROR = 8,
    CME_HEADER_FILE_ERROR = 9,
    CME_DATA_FILE_ERROR = 10,
    CME_INVALID_HEADER = 11,
    CME_INVALID_ENCODING = 12,
    CME_MISSING_PARAMETER = 13,
    CME_INVALID_CHARSET = 14,
    CME_NOT_LEAF = 15,
    CME_UU_BAD_MODE = 17,
    CME_UU_BAD_DATA = 18,
    CME_UU_BAD_BEGIN = 19,
    CME_UU_EMPTY_LINE = 20,
    CME_UU_CHECKSUM = 21,
    CME_UU_NO_BEGIN = 22
};

enum _ENCODE_MODE : unsigned int
{
    ENCODE_MODE_MESSAGE = 1
};
