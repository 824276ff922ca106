// CUnpacker: parses a message file into a tree of output blocks and decodes each leaf
// body into a file of the work directory.
#pragma once

#include "mimeengine/codec/contenttypemap.h"
#include "mimeengine/engine/rc.h"
#include "mimeengine/extract/wfxfile.h"
#include "mimeengine/model/block.h"
#include "mimeengine/unpack/parseutilities.h"

#include <string>
#include <unordered_map>

// Composite parts nested deeper than MAX_NESTING_DEPTH are kept in the tree but not
// entered. A run makes at most MAX_PARTS blocks below the root (parts of multiparts,
// embedded messages, uuencoded files); every output block takes over 2 KiB and every part a
// header work file, so a message of many tiny parts costs far more memory and files than
// its own size, and without a limit a few megabytes of hostile input could ask for
// gigabytes. Parts beyond the limit are passed over without output.
enum
{
    MAX_NESTING_DEPTH = 100,
    MAX_PARTS = 100000
};

class MIMEENGINE_API CUnpacker
{
public:
    CUnpacker();
    CUnpacker(const CUnpacker& other);
    CUnpacker& operator=(const CUnpacker& other);

    // Message parsing.
    COutputBlock* Unpack(CString& source, const char* workDirectory, BOOL bExtract, _CME_RC* rc, CString& errorText);
    COutputBlock* UnpackBody(CString& source, const char* workDirectory, BOOL bExtract, _CME_RC* rc,
                             CString& errorText);
    _CME_RC ParsePart(char** line, char** readAhead, CWfxFile& file, const char* source, CString& errorText,
                      COutputBlock* block, BOOL bExtract);
    _CME_RC ReadBodyHeader(char** line, char** readAhead, CWfxFile& file, const char* source, CString& errorText,
                           COutputBlock** root);

    // Header reading.
    _CME_RC ReadHeader(char** line, char** readAhead, CWfxFile& file, const char* source, CString& errorText,
                       COutputBlock** block, BOOL mimeVersion);
    BOOL CheckMimeVersion(char** line, char** readAhead, CWfxFile& file, CStdioFile* copy, _UNFOLD_RC* unfold);
    BOOL GetMimeVersion(char** line, char** readAhead, CWfxFile& file, CStdioFile* copy, _UNFOLD_RC* unfold, int* major,
                        int* minor);

    // Header fields: 0, or the string-table number of the error (25000, 25001, 25002).
    UINT ParseHeaderField(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                          COutputBlock* block);
    UINT GetFieldValue(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value);
    UINT ParseContentType(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                          COutputBlock* block);
    UINT ParseContentTransferEncoding(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                                      COutputBlock* block);
    UINT ParseContentDisposition(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                                 COutputBlock* block);
    UINT ParseContentName(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                          COutputBlock* block);
    UINT ParseContentId(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                        COutputBlock* block);
    UINT ParseContentDescription(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                                 COutputBlock* block);

    // Composite parts.
    _CME_RC ParseMultipart(COutputBlock* block);
    _CME_RC ParseMessage(COutputBlock* block, int* leaf);

    // Leaf bodies.
    _CME_RC ExtractLeafBody(COutputBlock* block, CStdioFile* source, char** line);
    _CME_RC ExtractText(COutputBlock* block, char** line, CStdioFile* source);
    _CME_RC ExtractImage(COutputBlock* block, char** line, CStdioFile* source);
    _CME_RC ExtractAudio(COutputBlock* block, char** line, CStdioFile* source);
    _CME_RC ExtractVideo(COutputBlock* block, char** line, CStdioFile* source);
    _CME_RC ExtractApplication(COutputBlock* block, char** line, CStdioFile* source);
    _CME_RC ParseCharsetParameter(COutputBlock* block, char** line, CStdioFile* source);

    // Transfer decoders. Each reads from the line after the header up to the delimiter
    // line that ends the body, which is left in *line.
    _CME_RC DecodeBody(COutputBlock* block, char** line, CStdioFile* source);
    _CME_RC DecodeText(COutputBlock* block, char** line, CStdioFile* source);
    _CME_RC DecodeQuotedPrintable(COutputBlock* block, char** line, CStdioFile* source);
    _CME_RC DecodeBase64(COutputBlock* block, char** line, CStdioFile* source);
    _CME_RC DecodeBinary(COutputBlock* block, char** line, CStdioFile* source);
    // Copies a BINARY body from *position (a raw offset of source) up to the delimiter
    // line, whose offset is returned through position. Without a block nothing is written.
    // The offset is an unsigned long (32 bits on Windows); the parse itself copies and skips
    // bodies by 64-bit offsets, through CopyBinaryBodyAt.
    _CME_RC CopyBinaryBody(const char* source, unsigned long* position, COutputBlock* block);
    _CME_RC CopyBinaryBodyAt(const char* source, ULONGLONG* position, COutputBlock* block);
    // Passes over a BINARY body without writing it: *position moves from the first body
    // byte to the delimiter line that ends the body as seen from block (the child being
    // skipped). The same as CopyBinaryBodyAt without a block, with block as m_pSkipContext.
    _CME_RC SkipBinaryBody(const char* source, ULONGLONG* position, COutputBlock* block);
    _CME_RC DecodeUUEncode(COutputBlock* block, char** line, CStdioFile* source);
    _CME_RC DecodeUUBeginFile(COutputBlock* block, char* line, CStdioFile* source, CFile*& output);
    _CME_RC DecodeUULines(COutputBlock* block, char* line, CStdioFile* source, CFile*& output);

    // Uuencoded files in a message without MIME header.
    BOOL ScanForUUEncodedFiles(CStdioFile* source, const char* workDirectory, COutputBlock*& root, BOOL bExtract);
    int ExtractUUEncodedFile(CStdioFile* source, const char* workDirectory, char* line, COutputBlock*& root,
                             BOOL bExtract);

    // Output files for decoded bodies, named from the block and made in the work directory.
    // The caller closes and deletes the file. Raise CFileException when even the fallback
    // name cannot be created.
    CWfxFile* OpenTextOutputFile(COutputBlock* block);
    CFile* OpenBinaryOutputFile(COutputBlock* block);

    CParseUtilities m_ParseUtilities;
    CParseUtilities* m_pParseUtilities;
    CContentTypeMap m_ContentTypeMap;
    CString m_WorkDirectory;

    // Nesting depth of the composite part being parsed.
    int m_nDepth = 0;
    // Blocks made below the root in this run, against m_nMaxParts (MAX_PARTS unless a
    // caller chooses a lower limit).
    int m_nParts = 0;
    int m_nMaxParts = MAX_PARTS;
    // The output names this run has given out or found taken, each with the next collision
    // number to try, so that many parts with one name neither try the name again nor rescan
    // " (2)", " (3)", ... for every file. Cleared at the start of each run.
    std::unordered_map<std::string, int> m_NextCollisionNumber;
    // Whose delimiters end a BINARY body that CopyBinaryBody copies without a block (the
    // child that the part walk skips). Null: no delimiter is recognised.
    COutputBlock* m_pSkipContext = nullptr;
};
