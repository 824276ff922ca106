// The name tables of the part vocabulary. CMIMEPart itself only scopes the enumerations
// and has nothing to define here.
#include "mimeengine/model/mimepart.h"

#include "model/nametables.h"

// The two exported tables are declared with an open row count so that callers index them
// by enumeration value; their definitions fix the count. Each row is NUL-padded to 32.
const char szContType[CONTENT_TYPE_ROWS][NAME_ROW_SIZE] = {"UNKNOWN", "TEXT",  "MESSAGE", "MULTIPART",
                                                           "IMAGE",   "AUDIO", "VIDEO",   "APPLICATION"};

const char szEncodeType[ENCODE_TYPE_ROWS][NAME_ROW_SIZE] = {"UNKNOWN", "7BIT",   "QUOTED-PRINTABLE", "BASE64",
                                                            "8BIT",    "BINARY", "X-UUENCODE",       "UUENCODE"};

const char szTextSubType[TEXT_SUBTYPE_ROWS][NAME_ROW_SIZE] = {"UNKNOWN", "PLAIN", "RICHTEXT"};

const char szMultipartSubType[MULTIPART_SUBTYPE_ROWS][NAME_ROW_SIZE] = {"UNKNOWN", "MIXED", "ALTERNATIVE", "DIGEST",
                                                                        "PARALLEL"};

const char szMessageSubType[MESSAGE_SUBTYPE_ROWS][NAME_ROW_SIZE] = {"UNKNOWN", "RFC822", "PARTIAL", "EXTERNAL-BODY"};

const char szApplicationSubType[APPLICATION_SUBTYPE_ROWS][NAME_ROW_SIZE] = {"UNKNOWN", "OCTET-STREAM", "POSTSCRIPT"};

const char szImageSubType[IMAGE_SUBTYPE_ROWS][NAME_ROW_SIZE] = {"UNKNOWN", "JPEG", "GIF", "TIFF"};

const char szAudioSubType[AUDIO_SUBTYPE_ROWS][NAME_ROW_SIZE] = {"UNKNOWN", "BASIC"};

const char szVideoSubType[VIDEO_SUBTYPE_ROWS][NAME_ROW_SIZE] = {"UNKNOWN", "MPEG"};

const char szAccessType[ACCESS_TYPE_ROWS][NAME_ROW_SIZE] = {"UNKNOWN",  "FTP",        "TFTP",
                                                            "ANON-FTP", "LOCAL-FILE", "MAIL-SERVER"};
