// Mail as a batch finds it: message files, directory trees, Maildir folders and mbox files,
// named on the command line or on standard input.
#pragma once

#include "batch.h"
#include "portability.h"
#include "textfiles.h"

#include <deque>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace cli
{

// How files and directories are read: auto tells Maildirs and mbox files by their look.
enum class InputFormat
{
    kAuto,
    kMbox,
    kMaildir,
    kFile
};
// "auto", "mbox", "maildir" or "file"; false for anything else.
bool ParseInputFormat(const std::string& text, InputFormat& format);

// True when the file's first line starts with "From ", as every mbox does.
bool StartsWithFromLine(const std::string& path);

// A file of a batch, before an mbox is split.
struct BatchFile
{
    std::string path;
    std::string name; // its directory below DIR, without ".parts"
    bool mbox = false;
    unsigned int failure = 0; // a result code when it cannot be read (a directory that
    std::string reason;       // cannot be listed, ...), and why
};

// The files that a batch's arguments name, in order: a file as given; a directory's regular
// files in name order (of a Maildir, those of new/ and then of cur/); with recursive, then
// its subdirectories in name order, each read the same way; for "-", the paths on standard
// input, one per line, each read like an argument. A line may give the output name after a
// tab ("PATH<TAB>NAME"). A file's name is its file name, or its path below the directory given.
// Symbolic links to directories are not followed, and no directory is read twice for one
// argument.
class BatchFiles
{
public:
    BatchFiles(std::vector<std::string> args, InputFormat format, bool recursive);
    // The next file; false when there is none.
    bool Next(BatchFile& file);

private:
    struct Directory
    {
        std::string path;
        std::string name; // "" for a directory given without a name
    };
    bool NextArgument(std::string& path, std::string& name, bool& named);
    // Queues the files and subdirectories of directory; given: named by an argument.
    void List(const Directory& directory, bool given);
    BatchFile Classify(const std::string& path, const std::string& name) const;

    std::vector<std::string> m_args;
    size_t m_nextArg = 0;
    bool m_readingStdin = false;
    const InputFormat m_format;
    const bool m_recursive;
    std::deque<std::pair<BatchFile, bool>> m_files; // of the directory listed last; true: may be an mbox
    std::vector<Directory> m_directories;           // still to list, the next one last
    std::set<FileKey> m_seen;                       // directories listed for this argument
};

class MboxReader;

// The messages of a batch: each message file, and each message of each mbox, copied into a
// private staging directory as the mbox is read (once, from front to back).
class ArchiveSource : public BatchSource
{
public:
    // readSize: bytes read from an mbox at a time.
    ArchiveSource(BatchFiles& files, size_t readSize);
    ~ArchiveSource() override;
    bool Next(BatchItem& item) override;

private:
    BatchFiles& m_files;
    const size_t m_readSize;
    WorkDirectory m_staging; // made for the first mbox
    unsigned long m_mboxes = 0;
    std::unique_ptr<MboxReader> m_mbox;
};

// State of the mbox splitter between two pieces of an mbox.
struct MboxSplit
{
    enum class Line
    {
        kStart,    // the line's first bytes, which tell what it is, are being read
        kText,     // the rest of a line of the message
        kFromLine, // the rest of a line that starts a message
    };
    Line line = Line::kFromLine;
    bool cr = false;       // the line so far is one CR
    bool quoted = false;   // the line so far is '>' characters, all but one already given out
    size_t matched = 0;    // bytes of "From " seen after them
    std::string emptyLine; // an empty line held back: dropped when the message ends after it
};

// Appends to out the bytes of the current message in [p, end) and moves p past what it took.
// A line that starts with "From " ends the message: true, with p after "From ". Lines that
// start with '>'s and "From " lose one '>' (mboxrd); line ends stay as they are. The empty line
// before a From line separates messages and belongs to none.
bool SplitMbox(MboxSplit& state, const char*& p, const char* end, std::string& out);
// At the end of the mbox: gives out what the state holds back, but a final empty line.
void FinishMbox(MboxSplit& state, std::string& out);

} // namespace cli
