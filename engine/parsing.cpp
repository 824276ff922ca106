// The engine's parsing entry points: hand the message to the parsing sub-object and pass
// its result code back; the parser's messages stay inside.
#include "mimeengine/engine/engine.h"

// Parses a message file (with its header) into a tree that the caller frees with
// FreeBlocks. Last error and error string are not touched.
COutputBlock* CMIMEEngine::Unpack(CString& source, const char* workDirectory, BOOL bExtract, _CME_RC& rc)
{
    rc = CME_SUCCESS;
    CString scratch;
    return m_Unpacker.Unpack(source, workDirectory, bExtract, &rc, scratch);
}

// Parses a multipart body without message header; as Unpack otherwise.
COutputBlock* CMIMEEngine::UnpackBody(CString& source, const char* workDirectory, BOOL bExtract, _CME_RC& rc)
{
    rc = CME_SUCCESS;
    CString scratch;
    return m_Unpacker.UnpackBody(source, workDirectory, bExtract, &rc, scratch);
}
