// Allocation failures at every step of the flat functions: no exception may leave them,
// and a failed decoding call leaves no work directory behind.
#include "api/flatinternal.h"
#include "flattest.h"
#include "mimeengine/mimeengine.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace
{

// Number of allocations still allowed before one fails; negative: none fails.
long g_allocationsBeforeFailure = -1;

void* Allocate(std::size_t size)
{
    if (g_allocationsBeforeFailure >= 0 && g_allocationsBeforeFailure-- == 0)
        throw std::bad_alloc();
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

} // namespace

// The whole test program allocates through these; only the tests below arm a failure.
void* operator new(std::size_t size)
{
    return Allocate(size);
}
void* operator new[](std::size_t size)
{
    return Allocate(size);
}
// The non-throwing forms count too: they answer null where the others throw.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try
    {
        return Allocate(size);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace
{

using flattest::TempDirScope;

// Runs call with the n-th allocation failing, for n = 0, 1, ... until a run makes no
// failing allocation. Memory that unwinding strands inside other parts of the library is
// not this test's subject, so the leak checker ignores what is allocated while armed.
template <class Call> int RunWithEachAllocationFailing(Call call)
{
    int runs = 0;
    for (long n = 0; n < 100000; ++n)
    {
        bool threw = false;
        {
#if defined(__SANITIZE_ADDRESS__)
            __lsan::ScopedDisabler noLeakCheck;
#endif
            g_allocationsBeforeFailure = n;
            try
            {
                call();
            }
            catch (...)
            {
                threw = true;
            }
        }
        bool allocationFailed = g_allocationsBeforeFailure < 0;
        g_allocationsBeforeFailure = -1;
        EXPECT_FALSE(threw) << "an exception left the call with allocation " << n << " failing";
        ++runs;
        if (!allocationFailed)
            break;
    }
    return runs;
}

TEST(FlatFaults, DecodingUnderAllocationFailures)
{
    TempDirScope temp;
    testsupport::ScratchDir files;
    std::string path = files.file("mixed.eml");
    testsupport::WriteFile(path, flattest::kMixedWithAttachment);

    int successes = 0;
    int runs = RunWithEachAllocationFailing([&] {
        char* text = nullptr;
        unsigned long count = 0;
        char** list = nullptr;
        int ok = DecodeMimeMessage(path.c_str(), &text, &count, &list);
        // Checked with the failure disarmed, so that the checks themselves can allocate.
        long armed = g_allocationsBeforeFailure;
        g_allocationsBeforeFailure = -1;
        if (ok)
        {
            ++successes;
            EXPECT_NE(text, nullptr);
            FreeMimeMsgText(&text);
            FreeMimeAttachmentList(count, &list);
        }
        else
        {
            EXPECT_EQ(text, nullptr);
            EXPECT_EQ(count, 0u);
            EXPECT_EQ(list, nullptr);
        }
        EXPECT_TRUE(temp.EntriesStartingWith("md").empty()) << "work directory left behind";
        g_allocationsBeforeFailure = armed;
    });
    EXPECT_GT(runs, 1) << "the decoding call allocates nothing?";
    EXPECT_GE(successes, 1);
}

TEST(FlatFaults, ComposingUnderAllocationFailures)
{
    TempDirScope temp;
    testsupport::ScratchDir files;
    std::string text = files.file("body.txt");
    testsupport::WriteFile(text, "Hello\n");
    std::string out = files.file("out.eml");
    char outPath[4096];

    int packed = 0;
    int runs = RunWithEachAllocationFailing([&] {
        ClearBlockList();
        long root = AddBlockList(0, "", "", MIMEENGINE_CONTENT_MULTIPART, 0, "mixed", nullptr);
        long child = root > 0 ? AddDeriveTypeBlockList(root, text.c_str(), "body.txt") : -1;
        long charset = root > 0 ? AddCharSetBlockList(root, text.c_str(), "note.txt") : -1;
        std::snprintf(outPath, sizeof outPath, "%s", out.c_str());
        long rc = child > 0 && charset > 0 ? MIMEEncode(outPath, 0, TRUE) : -1;
        long armed = g_allocationsBeforeFailure;
        g_allocationsBeforeFailure = -1;
        EXPECT_TRUE(rc == 0 || rc == -1);
        if (rc == 0)
        {
            ++packed;
            EXPECT_EQ(FlatRootForTesting(), nullptr);
        }
        ClearBlockList();
        g_allocationsBeforeFailure = armed;
    });
    EXPECT_GT(runs, 1);
    EXPECT_GE(packed, 1);
}

} // namespace
