// The part type vocabulary: enumerations of content type, transfer encoding, access
// method, character set and disposition, and the exported name tables.
#pragma once

#include "mimeengine/export.h"

class MIMEENGINE_API CMIMEPart
{
public:
    enum _CONTENT_TYPE : unsigned int
    {
        CONTENT_UNKNOWN = 0,
        CONTENT_TEXT = 1,
        CONTENT_MESSAGE = 2,
        CONTENT_MULTIPART = 3,
        CONTENT_IMAGE = 4,
        CONTENT_AUDIO = 5,
        CONTENT_VIDEO = 6,
        CONTENT_APPLICATION = 7
    };

    enum _ENCODE_TYPE : unsigned int
    {
        ENCODE_UNKNOWN = 0,
        ENCODE_7BIT = 1,
        ENCODE_QUOTED_PRINTABLE = 2,
        ENCODE_BASE64 = 3,
        ENCODE_8BIT = 4,
        ENCODE_BINARY = 5,
        ENCODE_X_UUENCODE = 6,
        ENCODE_UUENCODE = 7,
        UU_MARKER_ENCODING = 9 // root of a tree found by the uuencode scan; never parsed or written
    };

    enum _ACCESS_TYPE : unsigned int
    {
        ACCESS_UNKNOWN = 0,
        ACCESS_FTP = 1,
        ACCESS_TFTP = 2,
        ACCESS_ANON_FTP = 3,
        ACCESS_LOCAL_FILE = 4,
        ACCESS_MAIL_SERVER = 5
    };

    enum _DISPOSE_TYPE : unsigned int
    {
        DISPOSE_UNKNOWN = 0,
        DISPOSE_INLINE = 1,
        DISPOSE_ATTACHMENT = 2
    };

    enum _CHAR_TYPE : unsigned int
    {
        CHAR_UNKNOWN = 0,
        CHAR_ISO_8859_1 = 1,
        CHAR_ISO_8859_2 = 2,
        CHAR_ISO_8859_3 = 3,
        CHAR_ISO_8859_4 = 4,
        CHAR_ISO_8859_5 = 5,
        CHAR_ISO_8859_6 = 6,
        CHAR_ISO_8859_7 = 7,
        CHAR_ISO_8859_8 = 8,
        CHAR_ISO_8859_9 = 9,
        CHAR_US_ASCII = 10,
        CHAR_IBM852 = 11,
        CHAR_CP866 = 12,
        CHAR_WINDOWS_874 = 13,
        CHAR_ISO_2022_JP = 14,
        CHAR_GB2312 = 15,
        CHAR_EUC_KR = 16,
        CHAR_BIG5 = 17,
        CHAR_UNICODE = 18,
        CHAR_UNICODE_FEFF = 19,
        CHAR_WINDOWS_1258 = 20,
        CHAR_IRV = 21,
        CHAR_DIN_66003 = 22,
        CHAR_SEN_850200_B = 23,
        CHAR_NS_4551_1 = 24,
        CHAR_KOI8_R = 25,
        CHAR_KOI8_RU = 26,
        CHAR_X_USER_DEFINED = 27,
        CHAR_ISO_2022_JP_ESC = 28,
        CHAR_ISO_2022_JP_SIO = 29,
        CHAR_ISO_2022_KR = 30,
        CHAR_AUTODETECT = 31,
        CHAR_AUTODETECT_KR = 32,
        CHAR_EUC_JP = 33,
        CHAR_HZ_GB_2312 = 34,
        CHAR_UTF_7 = 35,
        CHAR_UTF_8 = 36
    };
};

// Name tables: rows of 32 bytes, indexed by the enumeration values (0 to 7).
extern MIMEENGINE_API const char szContType[][32];
extern MIMEENGINE_API const char szEncodeType[][32];
