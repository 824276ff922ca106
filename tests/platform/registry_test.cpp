#include "platform/win32.h"
#include "support/testsupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace
{

// Reads value name of key sub under root; empty when not found.
std::string Query(HKEY root, const std::string& sub, const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    BYTE data[256];
    DWORD size = sizeof(data);
    DWORD type = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, data, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return "";
    EXPECT_EQ(REG_SZ, type);
    return reinterpret_cast<char*>(data);
}

struct RegistryGuard
{
    ~RegistryGuard() { RegistryResetForTesting(); }
};

const char kDatabase[] = "# comment line\n"
                         "image/gif\t\t\tgif\n"
                         "image/jpeg\t\t\tjpeg jpg jpe\n"
                         "text/plain  txt asc text  # trailing comment\n"
                         "application/x-other jpg\n"
                         "x-world/x-vrml wrl\n"
                         "application/empty\n";

} // namespace

TEST(RegistryTest, ExtensionKeysAnswerContentType)
{
    RegistryGuard guard;
    RegistrySetMimeTypesForTesting(kDatabase);
    EXPECT_EQ("image/gif", Query(HKEY_CLASSES_ROOT, ".gif", "Content Type"));
    EXPECT_EQ("image/gif", Query(HKEY_CLASSES_ROOT, ".GIF", "Content Type"));
    // The first type in file order wins for an extension listed twice.
    EXPECT_EQ("image/jpeg", Query(HKEY_CLASSES_ROOT, ".jpg", "Content Type"));
    EXPECT_EQ("x-world/x-vrml", Query(HKEY_CLASSES_ROOT, ".wrl", "Content Type"));
    EXPECT_EQ("", Query(HKEY_CLASSES_ROOT, ".zzz", "Content Type"));
    EXPECT_EQ("", Query(HKEY_CLASSES_ROOT, ".gif", "Extension"));
    EXPECT_EQ("", Query(HKEY_CLASSES_ROOT, ".", "Content Type"));
}

TEST(RegistryTest, TypeKeysAnswerTheFirstExtension)
{
    RegistryGuard guard;
    RegistrySetMimeTypesForTesting(kDatabase);
    EXPECT_EQ(".jpeg", Query(HKEY_CLASSES_ROOT, "MIME\\Database\\Content Type\\image/jpeg", "Extension"));
    EXPECT_EQ(".gif", Query(HKEY_CLASSES_ROOT, "MIME\\Database\\Content Type\\IMAGE/gif", "Extension"));
    EXPECT_EQ(".txt", Query(HKEY_CLASSES_ROOT, "mime\\database\\content type\\Text/Plain", "Extension"));
    EXPECT_EQ("", Query(HKEY_CLASSES_ROOT, "MIME\\Database\\Content Type\\application/empty", "Extension"));
    EXPECT_EQ(
        "", Query(HKEY_LOCAL_MACHINE, "SOFTWARE\\MICROSOFT\\Internet Explorer\\plugins\\MIME\\image/gif", "Extension"));
    EXPECT_EQ("", Query(HKEY_CLASSES_ROOT, "Something\\Else", "Extension"));
}

TEST(RegistryTest, SmallBufferReportsTheSizeNeeded)
{
    RegistryGuard guard;
    RegistrySetMimeTypesForTesting(kDatabase);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, ".gif", 0, KEY_READ, &key));
    BYTE data[4];
    DWORD size = sizeof(data);
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "Content Type", nullptr, nullptr, data, &size));
    EXPECT_EQ(10u, size);
    RegCloseKey(key);
}

TEST(RegistryTest, DatabaseComesFromTheEnvironmentVariable)
{
    RegistryGuard guard;
    testsupport::ScratchDir dir;
    std::string file = dir.file("mime.types");
    testsupport::WriteFile(file, "application/x-test tst\n");
    const char* old = std::getenv("MIMEENGINE_MIME_TYPES");
    std::string saved = old != nullptr ? old : "";

    ::setenv("MIMEENGINE_MIME_TYPES", file.c_str(), 1);
    RegistryResetForTesting();
    EXPECT_EQ("application/x-test", Query(HKEY_CLASSES_ROOT, ".tst", "Content Type"));

    // An empty value means no database at all.
    ::setenv("MIMEENGINE_MIME_TYPES", "", 1);
    RegistryResetForTesting();
    EXPECT_EQ("", Query(HKEY_CLASSES_ROOT, ".tst", "Content Type"));

    ::setenv("MIMEENGINE_MIME_TYPES", dir.file("missing").c_str(), 1);
    RegistryResetForTesting();
    EXPECT_EQ("", Query(HKEY_CLASSES_ROOT, ".tst", "Content Type"));

    if (old != nullptr)
        ::setenv("MIMEENGINE_MIME_TYPES", saved.c_str(), 1);
    else
        ::unsetenv("MIMEENGINE_MIME_TYPES");
}
