/* Usage: flat_dll_startup BODY_FILE (Windows). Loads mimeengine.dll at run time, as a program
 * that is not linked to it does, so that its DllMain chooses the default charset from the code
 * page before any call. Prints "CHARSET FLAG ENCODING" as FLAT_STARTUP writes it (the flag: 1
 * when that charset needs encoding, seen as a text part refused without a parent; the encoding
 * of "abc"), then whether the library was unloaded; exits 0 when both are as expected. The
 * charset shows only inside an encoded word: without encoding it is printed, and compared,
 * as "-". */
#include <mimeengine/mimeengine_flat.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

typedef void (*EncodeFunction)(char*, char*);
typedef long (*AddCharSetFunction)(long, const char*, const char*);
typedef void (*ClearFunction)(void);

/* A flat function of the library; a function pointer is copied, not cast, from FARPROC. */
static void Find(HMODULE library, const char* name, void* function, size_t size)
{
    FARPROC found = GetProcAddress(library, name);
    if (found == NULL)
    {
        printf("no %s\n", name);
        exit(1);
    }
    memcpy(function, &found, size);
}

int main(int argc, char** argv)
{
    char abc[] = "abc", encoded[256] = "", got[512] = "", want[512] = "";
    const char* expected = getenv("FLAT_STARTUP");
    EncodeFunction encode;
    AddCharSetFunction addCharSet;
    ClearFunction clear;
    int needsEncoding, unloaded;
    HMODULE library = LoadLibraryA("mimeengine.dll");
    if (argc != 2 || library == NULL || expected == NULL || strlen(expected) >= sizeof want)
        return 2;
    Find(library, "EncodeBase64String", &encode, sizeof encode);
    Find(library, "AddCharSetBlockList", &addCharSet, sizeof addCharSet);
    Find(library, "ClearBlockList", &clear, sizeof clear);

    encode(abc, encoded);
    needsEncoding = addCharSet(0, argv[1], "note.txt") < 0;
    clear();
    if (strncmp(encoded, "=?", 2) == 0)
        sprintf(got, "%.*s %d %s", (int)strcspn(encoded + 2, "?"), encoded + 2, needsEncoding, encoded);
    else
        sprintf(got, "- %d %s", needsEncoding, encoded);
    strcpy(want, expected);
    if (strstr(want, " 0 ") != NULL)
        sprintf(want, "-%s", strchr(expected, ' '));

    unloaded = FreeLibrary(library) && GetModuleHandleA("mimeengine.dll") == NULL;
    printf("%s\nunloaded %d\n", got, unloaded);
    return strcmp(got, want) == 0 && unloaded ? 0 : 1;
}
