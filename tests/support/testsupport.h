// Helpers shared by the test programs: scratch directories, whole-file I/O, tables of
// cases and golden files under tests/data/, and a readable dump of a parsed block tree.
#pragma once

#include "mimeengine/engine/engine.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace testsupport
{

// What differs between the systems the tests run on. The library joins a directory and a
// name with the system's separator; Windows has no symbolic links for tests to plant (they
// need a privilege there), and its temporary directory comes from TMP instead of TMPDIR.
// Only Windows has a registry, the system's own database of content types. The POSIX
// platform layer counts its system calls (platform::CallCounts); the Windows one does not.
#if defined(_WIN32)
constexpr char kSeparator = '\\';
constexpr bool kHaveRegistry = true;
constexpr bool kHaveSymlinks = false;
constexpr const char* kTempVariable = "TMP";
constexpr bool kCountsSystemCalls = false;
#else
constexpr char kSeparator = '/';
constexpr bool kHaveRegistry = false;
constexpr bool kHaveSymlinks = true;
constexpr const char* kTempVariable = "TMPDIR";
constexpr bool kCountsSystemCalls = true;
#endif

// directory + kSeparator + name, as the library joins them.
std::string Join(const std::string& directory, const std::string& name);
// Sets an environment variable of this process; a null value removes it. 0 on success.
int SetEnv(const std::string& name, const char* value);
// Makes link a symbolic link to target; false where that fails or kHaveSymlinks is false.
bool MakeSymlink(const std::string& target, const std::string& link);
// The largest amount of memory this process has held so far, in KiB.
long PeakMemoryKiB();

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
    // Join(path(), name)
    std::string file(const std::string& name) const;
    // Creates (with parents) a subdirectory and returns its path.
    std::string mkdir(const std::string& relative) const;

private:
    std::string m_path;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Sorted names of the entries of a directory tree, relative to root ("a", "a/b", ...; "/"
// on every system).
std::string ListTree(const std::string& root);
// Every byte value 0..255 once, in order.
std::string AllBytes();
// Every LF that does not follow a CR becomes CR LF.
std::string Crlf(const std::string& text);

// C-style escapes, so that table cells and golden files show every byte:
// \r \n \t \\ \0 and \xHH; Escape writes printable ASCII as is and the rest as \xHH.
std::string Unescape(const std::string& cell);
std::string Escape(const std::string& bytes);

// tests/data/<relative>
std::string DataPath(const std::string& relative);
// "{N*text}" stands for text repeated N times, "{all}" for the bytes 0..255, "{sep}" for
// kSeparator.
std::string Expand(std::string cell);
// Rows of a tab-separated table under tests/data/: blank lines and lines starting with '#'
// are skipped, each cell is unescaped and then expanded. A row remembers its table and line
// for failure messages.
struct Row
{
    std::string table;
    int line = 0;
    std::vector<std::string> cells;
    const std::string& operator[](size_t i) const;
    size_t size() const { return cells.size(); }
};
std::vector<Row> ReadTable(const std::string& relative);
void PrintTo(const Row& row, std::ostream* out);

// Rows as the cases of a TEST_P, one case per row, so that a row runs alone and one failing
// row hides no other: INSTANTIATE_TEST_SUITE_P(Table, Fixture, ValuesIn(ReadTable(...)),
// CaseName()). A row's case is named after its line and its first cell ("L12_text_plain"), a
// case given by a name (a message file) after that name; other bytes than letters and digits
// become "_" (Identifier).
std::string Identifier(const std::string& text);
struct CaseName
{
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const;
    std::string operator()(const ::testing::TestParamInfo<std::string>& info) const;
};
// The first row of each run of rows with the same cell at column: a case of dependent rows.
std::vector<Row> FirstOfEach(const std::vector<Row>& rows, size_t column);

// Compares actual with the golden file tests/data/<relative>. A missing golden file is
// written as <relative>.actual and the check fails; with MIMEENGINE_REGEN set every golden
// file is rewritten instead (review the diff before committing it).
void ExpectGolden(const std::string& relative, const std::string& actual);
// Compares actual with the section of row in the golden file tests/data/<relative>: the lines
// that begin with its key ("line N:", or with keyColumn its cell there and ":") and the lines
// indented by a space after each. With MIMEENGINE_REGEN set the section is written instead,
// and the file keeps the sections of the other rows of the table in its order (run the test
// program, not parallel processes, to regenerate).
void ExpectGoldenSection(const std::string& relative, const Row& row, const std::string& actual, int keyColumn = -1);

// Children of a block as a vector (empty without a child list).
std::vector<COutputBlock*> Children(const CBlock* block);
// An indented dump of a parsed tree, one line per block with every field that is set, and
// below each leaf the name of its decoded file (relative to workDir) and its bytes escaped.
std::string DumpTree(const COutputBlock* root, const std::string& workDir);

// Owns a parsed tree and frees it with the engine.
struct TreeDeleter
{
    void operator()(COutputBlock* root) const;
};
using Tree = std::unique_ptr<COutputBlock, TreeDeleter>;

// One parse of a message written into a scratch directory; the work directory is its
// subdirectory "work". maxParts > 0 sets the unpacker's part limit.
struct Parse
{
    ScratchDir scratch;
    std::string work;
    std::string source;
    Tree root;
    _CME_RC rc = CME_FAILURE;

    explicit Parse(const std::string& message, BOOL extract = TRUE, bool bodyOnly = false, int maxParts = 0);
    // DumpTree of the result, after a first line "rc N".
    std::string Dump() const;
};

} // namespace testsupport
