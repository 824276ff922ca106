// CPacker: writes one MIME message file from a tree of input blocks.
#pragma once

#include "mimeengine/codec/contenttypemap.h"
#include "mimeengine/engine/rc.h"
#include "mimeengine/model/block.h"

class MIMEENGINE_API CPacker
{
public:
    // Seeds the process-wide pseudo-random generator from the clock.
    CPacker();

    // Writes the message for root into outputPath (an empty path: a new ".MME" file in the
    // temporary directory). A failing step formats its message into errorString.
    _CME_RC Pack(CInputBlock* root, char* outputPath, unsigned long size, CString& errorString);
    // Writes one block and, for a multipart block, its descendants.
    _CME_RC WriteBlock(CInputBlock* block, CFile& output, CString& errorString);
    // A fresh boundary: "<time>_ML=_MARIGOLD:<5-digit random>".
    void MakeBoundary(CString& boundary);
    // Writes the generated header lines of one block.
    void WriteHeader(CInputBlock* block, CFile& output, CString boundary);
    // Writes the encoded data file of a leaf block and the line break that follows it.
    _CME_RC WriteBody(CInputBlock* block, CFile& output, CString& errorString);
    void CopyData(CFile& data, CFile& output);
    void EncodeBase64(CFile& data, CFile& output);
    void EncodeQuotedPrintable(CFile& data, CFile& output, CInputBlock* block);

    _ENCODE_MODE m_EncodeMode;
    BOOL m_FirstPart;
    CContentTypeMap m_ContentTypeMap;
};
