// Helpers shared by the test programs: scratch directories and whole-file I/O.
#pragma once

#include <string>

namespace testsupport
{

// A fresh directory below the system's temporary directory, removed with its contents
// when the object goes away (unless MIMEENGINE_KEEP_TEST_DIRS is set).
class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return m_path; }
    // path() + "/" + name
    std::string file(const std::string& name) const;
    // Creates (with parents) a subdirectory and returns its path.
    std::string mkdir(const std::string& relative) const;

private:
    std::string m_path;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Sorted names of the entries of a directory tree, relative to root ("a", "a/b", ...).
std::string ListTree(const std::string& root);
// Every byte value 0..255 once, in order.
std::string AllBytes();

} // namespace testsupport
