#include "flattest.h"

#include <cstdlib>
#include <dirent.h>

namespace flattest
{

TempDirScope::TempDirScope()
{
    if (const char* saved = std::getenv("TMPDIR"))
    {
        m_saved = saved;
        m_hadSaved = true;
    }
    setenv("TMPDIR", m_dir.path().c_str(), 1);
}

TempDirScope::~TempDirScope()
{
    if (m_hadSaved)
        setenv("TMPDIR", m_saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

std::vector<std::string> TempDirScope::EntriesStartingWith(const std::string& prefix) const
{
    std::vector<std::string> names;
    DIR* dir = opendir(m_dir.path().c_str());
    if (dir == nullptr)
        return names;
    while (dirent* entry = readdir(dir))
    {
        std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) == 0)
            names.push_back(name);
    }
    closedir(dir);
    return names;
}

std::string Crlf(const std::string& text)
{
    std::string result;
    for (char c : text)
    {
        if (c == '\n')
            result += '\r';
        result += c;
    }
    return result;
}

} // namespace flattest
