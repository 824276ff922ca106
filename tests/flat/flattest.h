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

// A multipart/mixed of a text part and a base64 attachment "data.bin" (bytes 0 to 3).
inline constexpr char kMixedWithAttachment[] = "MIME-Version: 1.0\n"
                                               "Content-Type: multipart/mixed; boundary=\"b1\"\n"
                                               "\n"
                                               "--b1\n"
                                               "Content-Type: text/plain\n"
                                               "\n"
                                               "First part\n"
                                               "--b1\n"
                                               "Content-Type: application/octet-stream; name=\"data.bin\"\n"
                                               "Content-Transfer-Encoding: base64\n"
                                               "Content-Disposition: attachment; filename=\"data.bin\"\n"
                                               "\n"
                                               "AAECAw==\n"
                                               "--b1--\n";

} // namespace flattest
