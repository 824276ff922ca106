// CUnpacker construction and copying. Parsing itself is in the other files of this folder.
#include "mimeengine/unpack/unpacker.h"

CUnpacker::CUnpacker() : m_ParseUtilities(), m_pParseUtilities(&m_ParseUtilities), m_ContentTypeMap(), m_WorkDirectory()
{
}

// The copy points at its own utilities object, never at the one of the source.
CUnpacker::CUnpacker(const CUnpacker& other)
    : m_ParseUtilities(other.m_ParseUtilities), m_pParseUtilities(&m_ParseUtilities),
      m_ContentTypeMap(other.m_ContentTypeMap), m_WorkDirectory(other.m_WorkDirectory), m_nDepth(other.m_nDepth),
      m_nParts(other.m_nParts), m_nMaxParts(other.m_nMaxParts), m_NextCollisionNumber(other.m_NextCollisionNumber)
{
}

CUnpacker& CUnpacker::operator=(const CUnpacker& other)
{
    if (this != &other)
    {
        m_ParseUtilities = other.m_ParseUtilities;
        m_pParseUtilities = &m_ParseUtilities;
        m_ContentTypeMap = other.m_ContentTypeMap;
        m_WorkDirectory = other.m_WorkDirectory;
        m_nDepth = other.m_nDepth;
        m_nParts = other.m_nParts;
        m_nMaxParts = other.m_nMaxParts;
        m_NextCollisionNumber = other.m_NextCollisionNumber;
    }
    return *this;
}
