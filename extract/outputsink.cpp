// Buffered writing of decoded bytes for the binary body decoders.
#include "extract/bodycodecs.h"

namespace bodycodecs
{

void COutputSink::Put(const void* data, size_t n)
{
    m_pending.append(static_cast<const char*>(data), n);
    if (m_pending.size() >= CHUNK + m_holdBack)
        Drain(m_holdBack);
}

void COutputSink::DropHeldBack()
{
    size_t drop = m_pending.size() < m_holdBack ? m_pending.size() : m_holdBack;
    m_pending.resize(m_pending.size() - drop);
}

void COutputSink::Finish()
{
    Drain(0);
}

// Writes all pending bytes but the last keep ones.
void COutputSink::Drain(size_t keep)
{
    if (m_pending.size() <= keep)
        return;
    size_t n = m_pending.size() - keep;
    if (m_file != nullptr)
        m_file->Write(m_pending.data(), static_cast<UINT>(n));
    m_pending.erase(0, n);
}

} // namespace bodycodecs
