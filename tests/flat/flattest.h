// Shared fixture of the flat interface tests: a private temporary directory (TMPDIR) so
// that work directories left behind can be counted.
#pragma once

#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace flattest
{

// Points TMPDIR at a scratch directory for the life of the object.
class TempDirScope
{
public:
    TempDirScope();
    ~TempDirScope();
    TempDirScope(const TempDirScope&) = delete;
    TempDirScope& operator=(const TempDirScope&) = delete;

    const std::string& path() const { return m_dir.path(); }
    // Names of the entries of the temporary directory that begin with prefix.
    std::vector<std::string> EntriesStartingWith(const std::string& prefix) const;

private:
    testsupport::ScratchDir m_dir;
    std::string m_saved;
    bool m_hadSaved = false;
};

// Every "\n" of text as "\r\n": how text-mode output files store line ends.
std::string Crlf(const std::string& text);

} // namespace flattest
