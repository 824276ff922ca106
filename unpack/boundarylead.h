// The first characters that can begin a delimiter line, for decoders that skip the
// delimiter test on every other line.
#pragma once

class COutputBlock;

// Which first characters can begin a delimiter line of the multiparts around a block. A
// line starting with anything else needs no delimiter test.
class CBoundaryLead
{
public:
    explicit CBoundaryLead(COutputBlock* block);
    bool MayStart(char c) const { return m_lead[static_cast<unsigned char>(c)]; }
    // MayStart for every byte value.
    const bool* Table() const { return m_lead; }

private:
    bool m_lead[256];
};
