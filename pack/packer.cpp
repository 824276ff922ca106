// CPacker construction. Packing itself is in the other files of this folder.
#include "mimeengine/pack/packer.h"

#include "platform/crt.h"

CPacker::CPacker() : m_EncodeMode(ENCODE_MODE_MESSAGE), m_FirstPart(FALSE), m_ContentTypeMap()
{
    // Boundaries draw on the thread's generator; seed it from the clock's low 16 bits.
    PlatformSrand(static_cast<unsigned int>(PlatformTime() & 0xFFFF));
}
