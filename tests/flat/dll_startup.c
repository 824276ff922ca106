/* Usage: flat_dll_startup BODY_FILE (Windows). Loads mimeengine.dll at run time, as a program
 * that is not linked to it does, so that its DllMain chooses the default charset from the code
 * page before any call. Prints "CHARSET FLAG ENCODING" as FLAT_STARTUP writes it (the flag: 1
 * when that charset needs encoding; the encoding of "abc"), then whether the library was
 * unloaded; exits 0 when both are as expected. The charset is read from the encoded word when
 * it needs encoding, else from the Content-Type of a composed text part. */
#include <mimeengine/mimeengine_flat.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

typedef void (*EncodeFunction)(char*, char*);
typedef long (*AddBlockFunction)(long, const char*, const char*, unsigned int, unsigned int, const char*,
                                 const char*);
typedef long (*AddCharSetFunction)(long, const char*, const char*);
typedef long (*EncodeMessageFunction)(char*, unsigned long, int);

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
    char abc[] = "abc", encoded[256] = "", got[512] = "", message[4096] = "", out[MAX_PATH];
    const char* charset = "?";
    const char* expected = getenv("FLAT_STARTUP");
    EncodeFunction encode;
    AddBlockFunction addBlock;
    AddCharSetFunction addCharSet;
    EncodeMessageFunction encodeMessage;
    long root, part;
    size_t length = 0;
    int unloaded;
    HMODULE library = LoadLibraryA("mimeengine.dll");
    if (argc != 2 || library == NULL || GetTempPathA(MAX_PATH - 40, out) == 0)
        return 2;
    Find(library, "EncodeBase64String", &encode, sizeof encode);
    Find(library, "AddBlockList", &addBlock, sizeof addBlock);
    Find(library, "AddCharSetBlockList", &addCharSet, sizeof addCharSet);
    Find(library, "MIMEEncode", &encodeMessage, sizeof encodeMessage);

    encode(abc, encoded);
    root = addBlock(0, "", "", MIMEENGINE_CONTENT_MULTIPART, MIMEENGINE_ENCODE_UNKNOWN, "mixed", NULL);
    part = addCharSet(root, argv[1], "note.txt");
    if (part < 0 && strncmp(encoded, "=?", 2) == 0)
    {
        charset = encoded + 2;
        length = strcspn(charset, "?");
    }
    else if (part > 0)
    {
        FILE* file;
        sprintf(out + strlen(out), "mimeengine-startup-%lu.eml", (unsigned long)GetCurrentProcessId());
        file = encodeMessage(out, 0, 1) == 0 ? fopen(out, "rb") : NULL;
        if (file != NULL)
        {
            message[fread(message, 1, sizeof message - 1, file)] = '\0';
            fclose(file);
            remove(out);
        }
        if ((charset = strstr(message, "charset=")) != NULL)
            length = strcspn(charset += 8, ";\r\n");
        else
            charset = "?";
    }
    sprintf(got, "%.*s %d %s", (int)length, charset, part < 0, encoded);

    unloaded = FreeLibrary(library) && GetModuleHandleA("mimeengine.dll") == NULL;
    printf("%s\nunloaded %d\n", got, unloaded);
    return expected != NULL && strcmp(got, expected) == 0 && unloaded ? 0 : 1;
}
