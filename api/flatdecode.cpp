// Flat decoding interface: a message's main text in memory and its attachments as files in
// a fresh private work directory, without engines or trees on the caller's side.
#include "api/flatinternal.h"
#include "api/textpart.h"
#include "mimeengine/engine/engine.h"
#include "mimeengine/mimeengine_flat.h"
#include "platform/fileutilities.h"
#include "platform/oscalls.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

// Removes every entry of directory that is not itself a directory, then the directory.
// Failures are ignored; nested directories are not entered, so a directory that holds one
// stays. A symbolic link is removed itself, never what it points to. Works in fixed
// buffers: it also runs after memory has run out.
void RemoveWorkDirectory(const char* directory)
{
    if (directory == nullptr || directory[0] == '\0')
        return;
    platform::ListDirectory(
        directory,
        [](void* context, const char* name, bool isDirectory) {
            const char* parent = static_cast<const char*>(context);
            char path[2 * MAX_PATH + 2];
            if (!isDirectory && std::snprintf(path, sizeof path, "%s" PATH_SEPARATOR_STRING "%s", parent, name) <
                                    static_cast<int>(sizeof path))
                DeleteFileA(path);
            return true;
        },
        const_cast<char*>(directory));
    RemoveDirectoryA(directory);
    g_FileUtilities.ForgetDirectory(directory);
}

// Heap copy of text from the allocator that FreeMimeMsgText and FreeMimeAttachmentList
// release with; null when memory runs out.
char* CopyText(const char* text)
{
    size_t length = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, length + 1);
    return copy;
}

// Reads the whole file into a zero-filled heap block one byte longer than the file, so the
// text is NUL-terminated. Null on any failure.
char* ReadWholeFile(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    char* text = nullptr;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    // The length must fit the platform's DWORD with room for the terminator.
    if (size != INVALID_FILE_SIZE && high == 0 && size < INVALID_FILE_SIZE)
    {
        text = static_cast<char*>(std::calloc(static_cast<size_t>(size) + 1, 1));
        DWORD got = 0;
        if (text != nullptr && (!ReadFile(file, text, size, &got, nullptr) || got != size))
        {
            std::free(text);
            text = nullptr;
        }
    }
    CloseHandle(file);
    return text;
}

void ReleaseList(unsigned long count, char** list)
{
    if (list == nullptr)
        return;
    for (unsigned long i = 0; i < count; ++i)
        std::free(list[i]);
    std::free(list);
}

// The procedure shared by DecodeMimeMessage (bodyOnly false) and DecodeNetscapeMessage.
// Whatever happens inside, including an exception from the parser, ends in TRUE with the
// receivers filled or FALSE with everything released and the work directory removed.
int DecodeMessage(bool bodyOnly, const char* messagePath, char** text, unsigned long* count, char*** list)
{
    if (count != nullptr)
        *count = 0;
    if (list != nullptr)
        *list = nullptr;
    if (text == nullptr)
        return FALSE;
    *text = nullptr;

    const bool wantList = count != nullptr && list != nullptr;
    int result = FALSE;
    // Held in a fixed buffer from the moment it exists, so that it can be removed whatever
    // fails afterwards.
    char workDirectory[MAX_PATH] = {0};
    COutputBlock* root = nullptr;
    char** attachments = nullptr;
    unsigned long attachmentCount = 0;

    try
    {
        EnsureLibraryStarted();
        CMIMEEngine engine(ENCODE_MODE_MESSAGE);
        try
        {
            char tempPath[MAX_PATH];
            if (messagePath != nullptr && GetTempPathA(MAX_PATH, tempPath) != 0 &&
                !platform::MakePrivateDirectory(tempPath, "md", workDirectory))
                workDirectory[0] = '\0';

            if (workDirectory[0] != '\0')
            {
                CString source(messagePath);
                _CME_RC rc = CME_SUCCESS;
                root = bodyOnly ? engine.UnpackBody(source, workDirectory, TRUE, rc)
                                : engine.Unpack(source, workDirectory, TRUE, rc);
            }
            if (root != nullptr)
            {
                std::string textPath;
                if (COutputBlock* textPart = SelectTextPart(root))
                    textPath = textPart->GetDataFile();

                if (wantList)
                {
                    std::vector<std::string> paths = CollectAttachments(root, bodyOnly);
                    if (!paths.empty())
                    {
                        attachments = static_cast<char**>(std::calloc(paths.size(), sizeof(char*)));
                        if (attachments == nullptr)
                            throw std::bad_alloc();
                        for (const std::string& path : paths)
                        {
                            char* copy = CopyText(path.c_str());
                            if (copy == nullptr)
                                throw std::bad_alloc();
                            attachments[attachmentCount++] = copy;
                        }
                        *list = attachments;
                        *count = attachmentCount;
                    }
                }

                engine.FreeBlocks(root);
                root = nullptr;

                *text = textPath.empty() ? CopyText("") : ReadWholeFile(textPath.c_str());
                if (*text != nullptr)
                    result = TRUE;
            }
        }
        catch (...)
        {
            // Parsing may raise CFileException, and memory may run out anywhere; both end
            // as a failed call below.
            result = FALSE;
        }
        if (root != nullptr)
            engine.FreeBlocks(root);
    }
    catch (...)
    {
        result = FALSE;
    }

    if (!result)
    {
        FreeMimeMsgText(text);
        ReleaseList(attachmentCount, attachments);
        if (list != nullptr)
            *list = nullptr;
        if (count != nullptr)
            *count = 0;
    }
    if (workDirectory[0] != '\0' && (!result || !wantList || attachmentCount == 0))
        RemoveWorkDirectory(workDirectory);
    return result;
}

} // namespace

extern "C" int DecodeMimeMessage(const char* messagePath, char** text, unsigned long* attachmentCount,
                                 char*** attachmentList)
{
    return DecodeMessage(false, messagePath, text, attachmentCount, attachmentList);
}

extern "C" int DecodeNetscapeMessage(const char* messagePath, char** text, unsigned long* attachmentCount,
                                     char*** attachmentList)
{
    return DecodeMessage(true, messagePath, text, attachmentCount, attachmentList);
}

extern "C" void FreeMimeMsgText(char** text)
{
    if (text == nullptr || *text == nullptr)
        return;
    std::free(*text);
    *text = nullptr;
}

extern "C" void FreeMimeAttachmentList(unsigned long attachmentCount, char*** attachmentList)
{
    if (attachmentCount == 0 || attachmentList == nullptr || *attachmentList == nullptr)
        return;
    try
    {
        char** list = *attachmentList;
        // The work directory is the one that holds the first attachment with a path.
        const char* first = nullptr;
        for (unsigned long i = 0; i < attachmentCount && first == nullptr; ++i)
            if (list[i] != nullptr && list[i][0] != '\0')
                first = list[i];
        if (first != nullptr)
        {
            // Everything up to the last separator, taken whole: fixed-size path parts
            // could cut a long directory name into the name of another directory.
            std::string path(first);
            size_t lastSeparator = path.find_last_of("/\\");
            path.resize(lastSeparator == std::string::npos ? 0 : lastSeparator + 1);
            while (!path.empty() && (path.back() == '/' || path.back() == '\\'))
                path.pop_back();
            // Only a directory made by the decoding functions is emptied: its name begins
            // with "md". A list that names files elsewhere never empties that directory.
            size_t nameStart = path.find_last_of("/\\");
            nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
            if (path.compare(nameStart, 2, "md") == 0)
                RemoveWorkDirectory(path.c_str());
        }
        ReleaseList(attachmentCount, list);
        *attachmentList = nullptr;
    }
    catch (...)
    {
        // Only the path strings above can fail to allocate; the list is then kept so that
        // a later call can release it.
    }
}
