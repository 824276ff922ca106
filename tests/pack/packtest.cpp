#include "packtest.h"

#include <gtest/gtest.h>

namespace packtest
{

const char kPreamble[] = "If you are reading this text, you might want to\r\n"
                         "consider changing to a MIME compatible mail reader\r\n"
                         "that understands how to properly display multipart messages.\r\n";

namespace
{

std::vector<int> g_draws;
size_t g_drawn = 0;

int NextDraw()
{
    const int value = g_draws.empty() ? 0 : g_draws[g_drawn < g_draws.size() ? g_drawn : g_draws.size() - 1];
    ++g_drawn;
    return value;
}

} // namespace

FixedBoundaries::FixedBoundaries(time_t now, std::vector<int> draws) : m_now(now)
{
    g_draws = std::move(draws);
    g_drawn = 0;
    const CTime fixed(now);
    CTime::SetCurrentTimeForTesting(&fixed);
    PlatformSetRandForTesting(&NextDraw);
}

FixedBoundaries::~FixedBoundaries()
{
    CTime::SetCurrentTimeForTesting(nullptr);
    PlatformSetRandForTesting(nullptr);
    g_draws.clear();
}

std::string FixedBoundaries::Boundary(size_t n) const
{
    const int draw = g_draws.empty() ? 0 : g_draws[n < g_draws.size() ? n : g_draws.size() - 1];
    char text[128];
    std::snprintf(text, sizeof text, "%ld_ML=_MARIGOLD:%05d", static_cast<long>(m_now), draw);
    return text;
}

size_t FixedBoundaries::DrawsTaken() const
{
    return g_drawn;
}

Tree::~Tree()
{
    if (m_root != nullptr)
    {
        m_root->DeleteChildBlocks();
        delete m_root;
    }
}

CInputBlock* Add(CInputBlock* parent, CInputBlock* child)
{
    CString unused;
    EXPECT_EQ(CME_SUCCESS, parent->AddChildBlock(child, unused));
    return child;
}

std::string WriteToFile(const std::string& path, const std::function<void(CFile&)>& write)
{
    {
        CFile file;
        EXPECT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite));
        write(file);
        file.Close();
    }
    return testsupport::ReadFile(path);
}

std::string MakeFile(const std::string& path, const std::string& data)
{
    testsupport::WriteFile(path, data);
    return path;
}

} // namespace packtest
