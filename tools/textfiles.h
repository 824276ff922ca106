// Text on the program's side of the library: Unix line ends turned into the CR LF of a
// message before packing, and a decoded text turned back into the system's line ends and
// the locale's charset for printing. The library itself keeps the bytes it is given.
#pragma once

#include <string>

// Set by the build when iconv and nl_langinfo are there; without them the decoded text is
// printed in its own charset.
#ifndef MIMEENGINE_HAVE_ICONV
#define MIMEENGINE_HAVE_ICONV 0
#endif

namespace cli
{

// A private directory (mode 0700, made by MakeTemporaryDirectory in TMPDIR or /tmp; on
// Windows in the system's temporary directory) for the program's temporary files. It is
// removed with everything in it when the object goes, whichever way the command ends.
class WorkDirectory
{
public:
    WorkDirectory() = default;
    ~WorkDirectory();
    WorkDirectory(const WorkDirectory&) = delete;
    WorkDirectory& operator=(const WorkDirectory&) = delete;

    // Makes the directory; false with a message in error.
    bool Create(std::string& error);
    const std::string& Path() const { return m_path; }
    // A new empty subdirectory, so that copies can keep the names of their originals even
    // when two originals share a name. Empty, with a message in error, on failure.
    std::string NewSubdirectory(std::string& error);

private:
    std::string m_path;
    int m_subdirectories = 0;
};

// The file to pack in place of the text file path: a copy in work where every LF not
// preceded by CR has become CR LF, under the original's file name. The path itself when
// there is nothing to change, when the file holds a NUL byte (it is no text) or when it
// cannot be read (the engine then names it in its error). Empty, with a message in error,
// when the copy cannot be written.
std::string WithCrLfLineEnds(WorkDirectory& work, const std::string& path, std::string& error);

// Writes content into a new file name of work; the path, or empty with a message in error.
std::string WriteWorkFile(WorkDirectory& work, const std::string& name, const std::string& content, std::string& error);

// text with every CR LF turned into the system's line end (LF).
std::string WithSystemLineEnds(const std::string& text);

// Converts text from charset (a MIME charset name) into the charset of the current locale
// (nl_langinfo(CODESET)); bytes that cannot be converted become U+FFFD when that charset is
// UTF-8 and '?' otherwise, one per byte. False, with out untouched, when the conversion is
// not available: an unknown charset, or a build without iconv.
bool ToLocaleCharset(const std::string& text, const std::string& charset, std::string& out);

} // namespace cli
