// Engine state: construction, last error and its message, Initialize and copies; the
// construction of the packer and unpacker sub-objects.
#include "mimeengine/engine/engine.h"
#include "platform/crt.h"

#include <gtest/gtest.h>

namespace
{

TEST(EngineState, NewEngineHasNoError)
{
    CMIMEEngine engine;
    EXPECT_EQ(CME_SUCCESS, engine.GetLastError());
    EXPECT_STREQ("", engine.GetErrorString());

    CMIMEEngine other(static_cast<_ENCODE_MODE>(7));
    EXPECT_EQ(CME_SUCCESS, other.GetLastError());
    EXPECT_STREQ("", other.GetErrorString());
}

TEST(EngineState, SetLastErrorWithAndWithoutMessage)
{
    CMIMEEngine engine;
    CString text("Header file 'h' cannot be opened.");
    engine.SetLastError(CME_HEADER_FILE_ERROR, &text);
    EXPECT_EQ(CME_HEADER_FILE_ERROR, engine.GetLastError());
    EXPECT_STREQ("Header file 'h' cannot be opened.", engine.GetErrorString());

    engine.SetLastError(CME_INVALID_BLOCK, nullptr);
    EXPECT_EQ(CME_INVALID_BLOCK, engine.GetLastError());
    EXPECT_STREQ("Header file 'h' cannot be opened.", engine.GetErrorString());

    // The engine keeps its own copy of the text.
    text = "changed";
    EXPECT_STREQ("Header file 'h' cannot be opened.", engine.GetErrorString());

    engine.SetErrorString("another");
    EXPECT_STREQ("another", engine.GetErrorString());
    EXPECT_EQ(CME_INVALID_BLOCK, engine.GetLastError());
    engine.SetErrorString(nullptr);
    EXPECT_STREQ("", engine.GetErrorString());
}

TEST(EngineState, InitializeClearsTheError)
{
    CMIMEEngine engine;
    CString text("failure text");
    engine.SetLastError(CME_DATA_FILE_ERROR, &text);
    engine.Initialize(ENCODE_MODE_MESSAGE);
    EXPECT_EQ(CME_SUCCESS, engine.GetLastError());
    EXPECT_STREQ("", engine.GetErrorString());
}

TEST(EngineState, CopiesCarryErrorAndText)
{
    CMIMEEngine engine;
    CString text("Output file 'o' cannot be accessed.");
    engine.SetLastError(CME_OUTPUT_FILE_ERROR, &text);

    CMIMEEngine copy(engine);
    EXPECT_EQ(CME_OUTPUT_FILE_ERROR, copy.GetLastError());
    EXPECT_STREQ("Output file 'o' cannot be accessed.", copy.GetErrorString());

    CMIMEEngine assigned;
    assigned = engine;
    EXPECT_EQ(CME_OUTPUT_FILE_ERROR, assigned.GetLastError());
    EXPECT_STREQ("Output file 'o' cannot be accessed.", assigned.GetErrorString());

    // Copies are independent of each other afterwards.
    copy.Initialize(ENCODE_MODE_MESSAGE);
    EXPECT_EQ(CME_OUTPUT_FILE_ERROR, engine.GetLastError());
    EXPECT_STREQ("Output file 'o' cannot be accessed.", engine.GetErrorString());

    assigned = assigned; // self-assignment keeps the state
    EXPECT_EQ(CME_OUTPUT_FILE_ERROR, assigned.GetLastError());
}

TEST(PackerConstruction, DefaultsAndSeed)
{
    // The generator is seeded from the low 16 bits of the clock's seconds.
    const time_t fixed = 0x12345678;
    PlatformSetTimeForTesting(&fixed);
    CPacker packer;
    int first = PlatformRand();
    int second = PlatformRand();
    PlatformSrand(0x5678);
    EXPECT_EQ(first, PlatformRand());
    EXPECT_EQ(second, PlatformRand());
    PlatformSetTimeForTesting(nullptr);

    EXPECT_EQ(ENCODE_MODE_MESSAGE, packer.m_EncodeMode);
    EXPECT_EQ(1u, static_cast<unsigned>(packer.m_EncodeMode));
    EXPECT_EQ(FALSE, packer.m_FirstPart);
}

TEST(UnpackerConstruction, UtilitiesPointerStaysWithItsObject)
{
    CUnpacker a;
    EXPECT_TRUE(a.m_WorkDirectory.IsEmpty());
    EXPECT_EQ(&a.m_ParseUtilities, a.m_pParseUtilities);

    a.m_WorkDirectory = "/tmp/work";
    CUnpacker b(a);
    EXPECT_EQ(&b.m_ParseUtilities, b.m_pParseUtilities);
    EXPECT_STREQ("/tmp/work", b.m_WorkDirectory);

    CUnpacker c;
    c = a;
    EXPECT_EQ(&c.m_ParseUtilities, c.m_pParseUtilities);
    EXPECT_STREQ("/tmp/work", c.m_WorkDirectory);
    EXPECT_EQ(&a.m_ParseUtilities, a.m_pParseUtilities);
}

} // namespace
