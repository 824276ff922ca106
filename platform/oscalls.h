// The operating-system calls under CFile and CTime, one function per call, so that the
// classes themselves (buffering, text mode, positions) are the same on every system.
// platform/posix/oscalls.cpp and platform/windows/oscalls.cpp implement them.
//
// Functions that can fail return 0 on success and otherwise the system's error code (errno
// on POSIX, GetLastError on Windows), which is what CFileException::m_lOsError holds.
#pragma once

#include "mimeengine/platform/cfile.h"
#include "mimeengine/platform/types.h"

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace platform
{

// Error codes the shared code raises itself: an operation on a closed file, an invalid
// argument or seek, and a file that is not there (an empty name); and the one a
// modeCreateNew open fails with when the name is taken.
extern const long kErrorClosedFile;
extern const long kErrorInvalidArgument;
extern const long kErrorNotFound;
extern const long kErrorExists;

// The CFileException cause of a system error code.
int CauseOfOsError(long error);

// Opens a regular file with CFile's open flags (access, modeCreate, modeNoTruncate). A
// create never follows a symbolic link at the last component; a directory, a FIFO or a
// device is refused and a FIFO cannot block the open. size is the file's size as opened (0
// for a file the call created), known from the type check without a call of its own.
long OpenRegularFile(const char* path, UINT nOpenFlags, intptr_t& handle, ULONGLONG& size);
// Reads up to n bytes; *got is 0 at the end of the file.
long ReadSome(intptr_t handle, void* buffer, size_t n, size_t& got);
long WriteAll(intptr_t handle, const void* buffer, size_t n);
long SeekTo(intptr_t handle, ULONGLONG offset);
long Truncate(intptr_t handle, ULONGLONG length);
long SizeOf(intptr_t handle, ULONGLONG& size);
long CloseFile(intptr_t handle);

// What is at the path, without following a final symbolic link: FALSE when nothing is.
bool StatusOfPath(const char* path, CFileStatus& status);
// TRUE when the system opens path as an existing file without asking for any access, read
// and write sharing allowed: a directory, or a name that cannot be opened, is no file. A
// symbolic link is followed. On POSIX one stat call, on Windows an open that is closed again.
bool OpensAsExistingFile(const char* path);
long RemoveFile(const char* path);
// Renames a file and never replaces one: an existing newPath fails the call on every system.
long RenameFile(const char* oldPath, const char* newPath);

// Lists directory: visit gets every entry's name but "." and "..", and whether the entry is
// itself a directory (a symbolic link is none); a visit that answers false ends the listing.
// Allocates nothing, so it also serves after memory has run out. Listing counts as Other.
long ListDirectory(const char* directory, bool (*visit)(void* context, const char* name, bool isDirectory),
                   void* context);
long RemoveEmptyDirectory(const char* path);
// Creates a new directory "<directory><prefix>XXXXXX" atomically, that only its owner may
// use on POSIX (mode 0700); its path goes to result (MAX_PATH bytes). False on failure.
bool MakePrivateDirectory(const char* directory, const char* prefix, char* result);

// Calendar time in 64-bit seconds since 1970 on every system, whatever the width of the
// runtime's time_t: the clock, local date and time of a time, and the time of a local date
// and time (-1 when the system cannot represent it).
std::int64_t CurrentTime();
struct tm LocalTime(std::int64_t t);
std::int64_t MakeLocalTime(struct tm& local);

// The system calls of the file layer, counted by kind where they are made (the POSIX side
// counts every call it makes, the Windows side those of the functions above), so that tests
// can hold the cost per message where it is. Listing a directory counts as Other.
enum class OsCall
{
    Open,
    Stat,
    Read,
    Write,
    Seek,
    Close,
    Rename,
    Other,
    Kinds
};
// Counts one call, and answers what a test has made of it (FailCall): 0 when it is to be made
// as usual, else the error it is to fail with. The opens, reads, writes, closes and renames
// of files heed the answer: an interrupted open, read or write is made again, an interrupted
// close has released the file all the same.
long CountCall(OsCall call);
// The number of calls of each kind so far, in the order of OsCall, for the whole process.
void CallCounts(unsigned long long (&counts)[static_cast<int>(OsCall::Kinds)]);
// For tests: the n-th call of this kind from now on (1: the next) fails with error, once;
// n 0 takes back a fault that has not struck yet.
void FailCall(OsCall call, unsigned long long n, long error);

#if !defined(_WIN32)
// open(2) as a counted call, made again when a signal interrupts it; -1 with errno set on
// failure.
int OpenCounted(const char* path, int flags, unsigned mode);
// What a call that CountCall tells to fail answers: errno set to the fault's error, and -1.
int FailWith(long fault);
#endif

} // namespace platform
