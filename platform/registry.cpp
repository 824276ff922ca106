// Read-only registry stand-in over a MIME database (mime.types format).
//
// Two kinds of key answer:
//   HKEY_CLASSES_ROOT\.ext                                  value "Content Type": the first
//       type, in file order, whose extension list holds ext (compared ignoring case);
//   HKEY_CLASSES_ROOT\MIME\Database\Content Type\type/sub    value "Extension": the first
//       extension listed for that type, with a dot.
// Every other key is not found. The database is the one a test installed, else the file
// named by MIMEENGINE_MIME_TYPES when that variable is set (empty: no database), else the
// system's default database (DefaultMimeTypesPath; POSIX only). Without any of these the
// stand-in is inactive, and on Windows the real registry answers.
#include "platform/chartable.h"
#include "platform/win32.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_map>

namespace
{

// The database is looked through for each key the first time it is asked for; a command
// asks for one or two, and building tables of the whole system database cost more than
// all of its lookups.
struct MimeDatabase
{
    std::string text; // with its ASCII letters in lower case, as keys are compared
    // Answers given so far, empty for a key that is not there. Keys come from the messages
    // read, so the answers are dropped when there are many, rather than growing with them.
    std::unordered_map<std::string, std::string> typeByExtension; // "gif" -> "image/gif"
    std::unordered_map<std::string, std::string> extensionByType; // "image/gif" -> "gif"
};

struct OpenKey
{
    std::string valueName;
    std::string value;
};

std::mutex g_mutex;
bool g_loaded = false;
bool g_active = false;
MimeDatabase g_database;
std::set<HKEY> g_openKeys;

std::string Lower(std::string s)
{
    for (char& c : s)
        c = platform::AsciiLower(c);
    return s;
}

// The next word of [q, stop), which q then follows; empty at the end. Words are parted by
// white space as a stream's ">>" in the classic locale takes it.
std::string_view NextWord(const char*& q, const char* stop)
{
    while (q < stop && platform::IsSpace(*q))
        ++q;
    const char* word = q;
    while (q < stop && !platform::IsSpace(*q))
        ++q;
    return std::string_view(word, static_cast<size_t>(q - word));
}

// Calls visit(type, q, stop) for every line in file order whose first word, the type, holds
// "/": its extensions are the words of [q, stop), a comment from "#" on being dropped. A
// visit that answers true ends the walk.
template <typename Visit> void ForEachType(const std::string& text, Visit visit)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end)
    {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (lineEnd == nullptr)
            lineEnd = end;
        const char* hash = static_cast<const char*>(std::memchr(p, '#', static_cast<size_t>(lineEnd - p)));
        const char* const stop = hash != nullptr ? hash : lineEnd;
        const char* q = p;
        p = lineEnd + 1;
        const std::string_view type = NextWord(q, stop);
        if (type.find('/') != std::string_view::npos && visit(type, q, stop))
            return;
    }
}

constexpr size_t kAnswersKept = 1024;

// The answer kept for key, else the one find gives, then kept.
template <typename Find>
const std::string& Answer(std::unordered_map<std::string, std::string>& answers, const std::string& key, Find find)
{
    if (answers.size() >= kAnswersKept)
        answers.clear();
    auto known = answers.find(key);
    if (known != answers.end())
        return known->second;
    return answers.emplace(key, find()).first->second;
}

// The first type whose extensions hold ext (in lower case); empty when none does.
const std::string& TypeOf(MimeDatabase& db, const std::string& ext)
{
    return Answer(db.typeByExtension, ext, [&] {
        std::string found;
        ForEachType(db.text, [&](std::string_view type, const char* q, const char* stop) {
            for (std::string_view word = NextWord(q, stop); !word.empty(); word = NextWord(q, stop))
                if (word == ext)
                {
                    found = std::string(type);
                    return true;
                }
            return false;
        });
        return found;
    });
}

// The first extension listed for type (in lower case) where a line of that type lists any;
// empty when none does.
const std::string& ExtensionOf(MimeDatabase& db, const std::string& type)
{
    return Answer(db.extensionByType, type, [&] {
        std::string found;
        ForEachType(db.text, [&](std::string_view lineType, const char* q, const char* stop) {
            if (lineType != type)
                return false;
            found = std::string(NextWord(q, stop));
            return !found.empty();
        });
        return found;
    });
}

void Parse(const std::string& text, MimeDatabase& db)
{
    db.text = Lower(text);
}

void LoadLocked()
{
    if (g_loaded)
        return;
    g_loaded = true;
    g_database = MimeDatabase();
    const char* path = std::getenv("MIMEENGINE_MIME_TYPES");
    if (path == nullptr)
        path = DefaultMimeTypesPath();
    g_active = path != nullptr;
    if (path == nullptr || *path == '\0')
        return;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return;
    std::ostringstream content;
    content << in.rdbuf();
    Parse(content.str(), g_database);
}

bool StartsWithNoCase(const std::string& s, const char* prefix, size_t n)
{
    return s.size() >= n && _strnicmp(s.c_str(), prefix, n) == 0;
}

} // namespace

bool StandInRegistryActive()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    LoadLocked();
    return g_active;
}

bool StandInRegistryOwns(HKEY hKey)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_openKeys.count(hKey) != 0;
}

LONG StandInRegOpenKey(HKEY hKey, const char* lpSubKey, PHKEY phkResult)
{
    if (phkResult == nullptr || lpSubKey == nullptr)
        return ERROR_FILE_NOT_FOUND;
    *phkResult = nullptr;
    if (hKey != HKEY_CLASSES_ROOT)
        return ERROR_FILE_NOT_FOUND;

    std::lock_guard<std::mutex> lock(g_mutex);
    LoadLocked();
    std::string subKey = lpSubKey;
    static const char kDatabase[] = "MIME\\Database\\Content Type\\";
    const size_t kDatabaseLen = sizeof(kDatabase) - 1;
    OpenKey key;
    if (subKey.size() > 1 && subKey[0] == '.')
    {
        const std::string& type = TypeOf(g_database, Lower(subKey.substr(1)));
        if (type.empty())
            return ERROR_FILE_NOT_FOUND;
        key = OpenKey{"Content Type", type};
    }
    else if (StartsWithNoCase(subKey, kDatabase, kDatabaseLen))
    {
        const std::string& extension = ExtensionOf(g_database, Lower(subKey.substr(kDatabaseLen)));
        if (extension.empty())
            return ERROR_FILE_NOT_FOUND;
        key = OpenKey{"Extension", "." + extension};
    }
    else
    {
        return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = reinterpret_cast<HKEY>(new OpenKey(key));
    g_openKeys.insert(*phkResult);
    return ERROR_SUCCESS;
}

LONG StandInRegQueryValue(HKEY hKey, const char* lpValueName, DWORD* lpType, BYTE* lpData, DWORD* lpcbData)
{
    if (!StandInRegistryOwns(hKey))
        return ERROR_FILE_NOT_FOUND;
    // The key stays valid until it is closed, which only its caller can do.
    OpenKey* key = reinterpret_cast<OpenKey*>(hKey);
    if (lpValueName == nullptr || _stricmp(lpValueName, key->valueName.c_str()) != 0)
        return ERROR_FILE_NOT_FOUND;
    DWORD needed = static_cast<DWORD>(key->value.size() + 1);
    if (lpType != nullptr)
        *lpType = REG_SZ;
    if (lpData == nullptr)
    {
        if (lpcbData != nullptr)
            *lpcbData = needed;
        return ERROR_SUCCESS;
    }
    if (lpcbData == nullptr)
        return ERROR_FILE_NOT_FOUND;
    if (*lpcbData < needed)
    {
        *lpcbData = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpData, key->value.c_str(), needed);
    *lpcbData = needed;
    return ERROR_SUCCESS;
}

LONG StandInRegCloseKey(HKEY hKey)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_openKeys.erase(hKey) != 0)
        delete reinterpret_cast<OpenKey*>(hKey);
    return ERROR_SUCCESS;
}

void RegistrySetMimeTypesForTesting(const char* pszMimeTypesText)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_database = MimeDatabase();
    g_loaded = true;
    g_active = true;
    if (pszMimeTypesText != nullptr)
        Parse(pszMimeTypesText, g_database);
}

void RegistryResetForTesting()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_loaded = false;
    g_active = false;
    g_database = MimeDatabase();
}
