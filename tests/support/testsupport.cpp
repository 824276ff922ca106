#include "support/testsupport.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace testsupport
{

ScratchDir::ScratchDir()
{
    std::string pattern = (fs::temp_directory_path() / "mimeengine-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        throw std::runtime_error("cannot create scratch directory");
    m_path = buf.data();
}

ScratchDir::~ScratchDir()
{
    if (std::getenv("MIMEENGINE_KEEP_TEST_DIRS") == nullptr)
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
}

std::string ScratchDir::file(const std::string& name) const
{
    return m_path + "/" + name;
}

std::string ScratchDir::mkdir(const std::string& relative) const
{
    std::string p = file(relative);
    fs::create_directories(p);
    return p;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Exists(const std::string& path)
{
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

std::string ListTree(const std::string& root)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        names.push_back(fs::relative(it->path(), root).string());
    std::sort(names.begin(), names.end());
    std::string out;
    for (const auto& n : names)
        out += n + "\n";
    return out;
}

std::string AllBytes()
{
    std::string s;
    for (int i = 0; i < 256; ++i)
        s.push_back(static_cast<char>(i));
    return s;
}

} // namespace testsupport
