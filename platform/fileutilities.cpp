// CFileUtilities: unique work-file names, path joining, extensions, existence tests and
// the cleaning of characters that a file name must not hold.
#include "platform/fileutilities.h"

#include "platform/oscalls.h"
#include "platform/pathparts.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

CFileUtilities g_FileUtilities;

namespace
{

// Work-file names are 8 characters from the clock and a counter; 256 counter values per
// directory, extension and minute.
constexpr int kCounterValues = 256;

// Where the counter search of one directory + extension last ended in the current minute, so that many
// names made within one minute do not rescan the taken ones from the start.
struct WorkNameMemo
{
    std::string minute; // the six characters of date, hour and minute this entry is for
    int next = 0;       // counter value to try first
    int tried = 0;      // counter values already found taken or handed out (0..256)
    unsigned extra = 0; // suffix number of the long form, used once all 256 are gone
};

// The memo in shards by directory, each under a lock of its own, so that engines on other
// threads, each writing to directories of its own, seldom wait for one another. All keys of
// one directory are in one shard.
struct MemoShard
{
    std::mutex mutex;
    std::unordered_map<std::string, WorkNameMemo> memo;
};
constexpr size_t kMemoShards = 16;
MemoShard g_MemoShards[kMemoShards];

MemoShard& ShardOf(const char* directory, size_t length)
{
    return g_MemoShards[std::hash<std::string_view>()(std::string_view(directory, length)) % kMemoShards];
}

// Only the current minute's entries are useful; past minutes are dropped when a shard grows.
constexpr size_t kMemoLimit = 64;

char YearLetter(int year)
{
    int n = year - 1990;
    if (n < 0)
        return '0';
    if (n < 10)
        return static_cast<char>('0' + n);
    // 2000-2025 give "A"-"Z", 2026-2051 "a"-"z", and the cycle of 52 letters repeats.
    int letter = (n - 10) % 52;
    return letter < 26 ? static_cast<char>('A' + letter) : static_cast<char>('a' + (letter - 26));
}

char DayLetter(int day)
{
    return day < 10 ? static_cast<char>('0' + day) : static_cast<char>('A' + (day - 10));
}

bool EndsWithSeparator(const CString& directory)
{
    int n = directory.GetLength();
    return n > 0 && (directory[n - 1] == '/' || directory[n - 1] == '\\');
}

// TRUE when anything at all is at path: a file, a directory or a symbolic link, even one
// that points nowhere.
bool NameTaken(const char* path)
{
    CFileStatus status;
    return CFile::GetStatus(path, status) != FALSE;
}

// The characters that may not appear in a file name or extension, by byte value.
struct IllegalNameChars
{
    bool is[256] = {};
    constexpr IllegalNameChars()
    {
        for (unsigned char c : {'\\', ':', '/', '*', '?', '"', '<', '>', '|'})
            is[c] = true;
    }
};
constexpr IllegalNameChars kIllegalNameChars;

void ReplaceIllegalChars(char* text)
{
    for (char* p = text; *p != '\0'; p = NextCharacter(p))
        if (kIllegalNameChars.is[static_cast<unsigned char>(*p)])
            *p = '_';
}

// Takes the next base name (without extension) of the memo entry for key in the minute
// prefix; an entry of another minute starts again at firstCounter.
void NextWorkBase(const std::string& key, const char* prefix, int firstCounter, char* base, size_t size)
{
    // The key's directory, before its NUL, picks the shard.
    MemoShard& shard = ShardOf(key.data(), key.find('\0'));
    std::lock_guard<std::mutex> lock(shard.mutex);
    auto it = shard.memo.find(key);
    if (it == shard.memo.end())
    {
        if (shard.memo.size() >= kMemoLimit)
        {
            // Entries of past minutes are of no more use; if all belong to this minute,
            // start over (at worst a rescan of names that are taken).
            for (auto old = shard.memo.begin(); old != shard.memo.end();)
                old = old->second.minute != prefix ? shard.memo.erase(old) : std::next(old);
            if (shard.memo.size() >= kMemoLimit)
                shard.memo.clear();
        }
        it = shard.memo.emplace(key, WorkNameMemo{}).first;
    }
    WorkNameMemo& memo = it->second;
    if (memo.minute != prefix)
    {
        memo = WorkNameMemo{};
        memo.minute = prefix;
        memo.next = firstCounter;
    }
    if (memo.tried < kCounterValues)
    {
        std::snprintf(base, size, "%s%2.2x", prefix, memo.next);
        memo.next = (memo.next + 1) % kCounterValues;
        ++memo.tried;
    }
    else
    {
        // The counter part of the base is the one the minute started with.
        std::snprintf(base, size, "%s%2.2x_%X", prefix, memo.next, ++memo.extra);
    }
}

// What a candidate work-file name turned out to be.
enum class Candidate
{
    Taken,  // in use: try the next name
    Chosen, // the name to return
    Failed  // no name will do: return the empty result
};

// Hands the work-file names of directory and extension, in order, to try until it chooses
// one or fails. result is the chosen path (or name), else empty; lastTried the last path
// handed to try.
void PickWorkFileName(const CString& directory, const char* extension, CString& result, char* baseName, BOOL fullPath,
                      const std::function<Candidate(const CString&)>& tryPath, CString* lastTried)
{
    result.Empty();
    if (extension == nullptr)
        extension = "";

    // One reading of the clock, taken apart once, serves every attempt of this call.
    const struct tm now = platform::LocalTime(CTime::GetCurrentTime().GetTime());
    const char year = YearLetter(now.tm_year + 1900);
    const char month = static_cast<char>('A' + now.tm_mon);
    const char day = DayLetter(now.tm_mday);
    const char hour = static_cast<char>('A' + now.tm_hour);
    const int minute = now.tm_min;

    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%c%c%c%c%2.2d", year, month, day, hour, minute);
    const std::string key = std::string(directory.GetString()) + '\0' + extension;
    const int firstCounter = now.tm_sec % kCounterValues;

    // The eight-character form while the minute has counter values left; after that the
    // same eight characters with "_" and a further number, so a name is always found. The
    // memo is held only while a name is taken from it, not while the name is tried, so
    // that engines on other threads are not held up by this one's file system calls.
    for (;;)
    {
        char base[32];
        NextWorkBase(key, prefix, firstCounter, base, sizeof base);

        CString name = CString(base) + "." + extension;
        CString path;
        g_FileUtilities.JoinPath(directory, name, path);
        // A path that cannot be kept in a 260-byte field is no usable name: callers take
        // the empty result as failure.
        if (path.GetLength() >= MAX_PATH)
            return;
        if (lastTried != nullptr)
            *lastTried = path;
        Candidate verdict = tryPath(path);
        if (verdict == Candidate::Taken)
            continue;
        if (verdict == Candidate::Failed)
            return;

        if (baseName != nullptr)
        {
            std::memcpy(baseName, base, 8);
            baseName[8] = '\0';
        }
        result = fullPath ? path : name;
        return;
    }
}

} // namespace

void CFileUtilities::MakeWorkFileName(const CString& directory, const char* extension, CString& result, char* baseName,
                                      BOOL fullPath)
{
    PickWorkFileName(
        directory, extension, result, baseName, fullPath,
        [](const CString& path) { return NameTaken(path) ? Candidate::Taken : Candidate::Chosen; }, nullptr);
}

void CFileUtilities::ForgetDirectory(const char* directory)
{
    const size_t length = std::strlen(directory);
    MemoShard& shard = ShardOf(directory, length);
    std::lock_guard<std::mutex> lock(shard.mutex);
    // Keys are the directory, a NUL and the extension.
    for (auto it = shard.memo.begin(); it != shard.memo.end();)
        it = it->first.size() > length && it->first[length] == '\0' && it->first.compare(0, length, directory) == 0
                 ? shard.memo.erase(it)
                 : std::next(it);
}

BOOL CFileUtilities::CreateWorkFile(const CString& directory, const char* extension, CFile& file, UINT nOpenFlags,
                                    CString& result)
{
    CString lastTried;
    // Creating the file is the test: a name is taken exactly when something is already there.
    auto create = [&](const CString& path) {
        CFileException error;
        if (file.Open(path, nOpenFlags | CFile::modeCreate | CFile::modeCreateNew, &error))
            return Candidate::Chosen;
        return error.m_lOsError == platform::kErrorExists ? Candidate::Taken : Candidate::Failed;
    };
    PickWorkFileName(directory, extension, result, nullptr, TRUE, create, &lastTried);
    if (!result.IsEmpty())
        return TRUE;
    result = lastTried;
    return FALSE;
}

// Made in one piece, at its full length, and then moved into result (which may be
// directory itself): one allocation per path, as many names are joined per message.
void CFileUtilities::JoinPath(const CString& directory, const char* name, CString& result)
{
    const size_t nameLength = name != nullptr ? strlen(name) : 0;
    std::string joined;
    joined.reserve(directory.str().size() + 1 + nameLength);
    joined = directory.str();
    if (!EndsWithSeparator(directory))
        joined += kPathSeparator;
    joined.append(name != nullptr ? name : "", nameLength);
    result = CString(std::move(joined));
}

void CFileUtilities::GetExtension(const char* path, CString& result)
{
    char ext[_MAX_EXT];
    ext[0] = '\0';
    if (path != nullptr)
        _splitpath(path, nullptr, nullptr, nullptr, ext);
    result = ext;
}

BOOL CFileUtilities::FileExists(const char* path)
{
    if (path == nullptr || *path == '\0')
        return FALSE;
    return platform::OpensAsExistingFile(path) ? TRUE : FALSE;
}

void CFileUtilities::CleanFileName(char* path)
{
    if (path == nullptr)
        return;
    // Cleaned in place: the drive and directory parts stay exactly as they are, and the
    // text keeps its length, so it still fits its buffer.
    PathParts parts = SplitPathParts(path);
    if (parts.extStart == parts.nameStart)
    {
        path[0] = '\0';
        return;
    }
    ReplaceIllegalChars(path + parts.nameStart);
}

PathParts SplitPathParts(const char* path)
{
    PathParts parts{0, 0, 0};
    const char* p = path;
    if (((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':')
        p += 2;
    const char* nameStart = p;
    const char* lastDot = nullptr;
    while (*p != '\0')
    {
        const char* next = NextCharacter(p);
        // The file system takes every "/" byte for a separator, also one that the code
        // page pairs with a lead byte; "\\" counts only as a character of its own.
        const char* slash = next == p + 1
                                ? (*p == '/' ? p : nullptr)
                                : static_cast<const char*>(std::memchr(p, '/', static_cast<size_t>(next - p)));
        if (slash != nullptr || *p == '\\')
        {
            nameStart = (slash != nullptr ? slash : p) + 1;
            lastDot = nullptr;
            next = nameStart;
        }
        else if (*p == '.')
        {
            lastDot = p;
        }
        p = next;
    }
    parts.nameStart = static_cast<size_t>(nameStart - path);
    parts.length = static_cast<size_t>(p - path);
    parts.extStart = lastDot != nullptr ? static_cast<size_t>(lastDot - path) : parts.length;
    return parts;
}
