// CMIMEEngine: construction, copying and the last error with its message.
// Tree building lives in composition.cpp, parsing entry points in parsing.cpp.
#include "mimeengine/engine/engine.h"

CMIMEEngine::CMIMEEngine() : CMIMEEngine(ENCODE_MODE_MESSAGE) {}

CMIMEEngine::CMIMEEngine(_ENCODE_MODE mode) : m_Packer(), m_Unpacker(), m_LastError(CME_SUCCESS), m_ErrorString()
{
    Initialize(mode);
}

// CUnpacker's own copy operations keep its utilities pointer on its own member.
CMIMEEngine::CMIMEEngine(const CMIMEEngine& other) = default;
CMIMEEngine& CMIMEEngine::operator=(const CMIMEEngine& other) = default;

CMIMEEngine::~CMIMEEngine() = default;

void CMIMEEngine::Initialize(_ENCODE_MODE mode)
{
    m_LastError = CME_SUCCESS;
    m_ErrorString.Empty();
    m_Packer.m_EncodeMode = mode;
}

void CMIMEEngine::SetLastError(_CME_RC rc, CString* message)
{
    m_LastError = rc;
    if (message != nullptr)
        m_ErrorString = *message;
}

void CMIMEEngine::SetErrorString(const char* text)
{
    m_ErrorString = text;
}
