// Files the program leaves where a user looks at them are whole or not there at all: they
// are written under a temporary name beside their place and renamed into it once complete,
// the temporary ones go when the command fails or is interrupted, and what the library left
// cut short after a failed unpack is set aside under a name that says so.
#pragma once

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

namespace cli
{

// A new empty file with a temporary name (".mimeengine-XXXXXX.partial") in a directory,
// removed with the object unless it was put in place. Its path is noted in a pending slot
// (PendingPath), so that an interrupt removes it too.
class TemporaryFile
{
public:
    explicit TemporaryFile(int slot) : m_slot(slot) {}
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Makes the file in dir; false with a message in error. fd, when given, receives a
    // descriptor open for writing, else the file is closed.
    bool Create(const std::string& dir, std::string& error, int* fd = nullptr);
    const std::string& Path() const { return m_path; }
    // Writes the file's data to the disk and renames it to target: replacing whatever is
    // there, or (replace false) only onto a free name, false with errno EEXIST when target
    // is taken. False with a message in error on failure; the file then stays temporary.
    bool PutInPlace(const std::string& target, bool replace, std::string& error);

private:
    int m_slot;
    std::string m_path;
};

// The buffer of a pending slot (kPendingSlots of them, kPendingPathSize bytes each): it holds
// the path of a file that is not whole yet, or nothing (a NUL first byte). Slot buffers stay
// readable to GuardInterrupts after the command's process has ended.
constexpr int kPendingSlots = 2;
constexpr size_t kPendingPathSize = 8192;
char* PendingPath(int slot);

// From here on an interrupt (SIGINT, SIGTERM, SIGHUP, or any signal that ends the command)
// removes the files named in the pending slots and the directories given, with everything in
// them, and then ends the program by the same signal. On POSIX systems the command goes on in
// a child process, and this process waits for it and cleans up after it: the call returns in
// the child only (or here, when no child can be made). Elsewhere a handler of SIGINT and
// SIGTERM cleans up.
void GuardInterrupts(const std::vector<std::string>& directories);

// Takes a free name for something new: name itself, then name-2, name-3, ... (stem-2.ext,
// ... with extension, the number going before the last dot of a name that does not start
// with it), trying at most limit names. take makes the thing under the name it is given and
// answers whether it did; when it did not, errno EEXIST means the name is in use and the next
// is tried, anything else ends the search. True with the name taken in name; else false with
// errno set (EEXIST: every name was in use) and the last name tried in name.
bool TakeFreeName(std::string& name, bool extension, int limit, const std::function<bool(const std::string&)>& take);

// Renames from to to unless to exists (also as a dangling symbolic link): 0, or -1 with
// errno set (EEXIST when to is taken).
int RenameNoReplace(const std::string& from, const std::string& to);

// The names of the entries of a directory (empty when it cannot be read).
std::set<std::string> EntryNames(const std::string& dir);

// What a run that the library ended with a file error left cut short in dir: the file
// named by the error when it lies in dir, or, when the error is about another file (the
// message could not be read on), the files of dir not in before that were written last (which
// of them was cut short cannot be told). Each is renamed NAME.partial, or removed where that
// name is taken or the rename fails. No file for an error without a file name (a file that
// could not be created). Fills json with one {"file", "kept_as"} object per file (kept_as
// null when removed) and returns the sentence that tells it, starting with "; ".
std::string SetAsideIncomplete(const std::string& dir, const std::string& failedFile,
                               const std::set<std::string>& before, nlohmann::json& json);

} // namespace cli
