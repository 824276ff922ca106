// The flat C interface from C++: composing by UID from a table, start-up per code page, and
// allocations failing in turn without an exception leaving a call (decoding: ctypes.tsv).
#include "api/flatinternal.h"
#include "codec/charset.h"
#include "mimeengine/mimeengine.h"
#include "platform/crt.h"
#include "platform/oscalls.h"
#include "platform/win32.h"
#include "support/testsupport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#if !defined(_WIN32)
#include <dlfcn.h>
#endif
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

using namespace testsupport;

static long g_allocationsBeforeFailure = -1; // negative: no allocation fails

// Every allocation of the program passes here; the next definition (the C++ runtime's, or
// the sanitizer's) does the work, so its own operator delete matches. Windows has no next
// definition to find: there malloc does the work, and free in the operator delete below.
void* operator new(std::size_t size)
{
#if defined(_WIN32)
    auto next = [](std::size_t n) { return std::malloc(n != 0 ? n : 1); };
#else
    static auto next = reinterpret_cast<void* (*)(std::size_t)>(dlsym(RTLD_NEXT, "_Znwm"));
#endif
    if (g_allocationsBeforeFailure >= 0 && g_allocationsBeforeFailure-- == 0)
        throw std::bad_alloc();
    void* p = next(size);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}
#if defined(_WIN32)
// GCC cannot see that the memory of this operator new comes from malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
#pragma GCC diagnostic pop
#endif

namespace
{

std::string Base(const std::string& path)
{
    return path.substr(path.find_last_of(std::string("/") + kSeparator) + 1);
}

// TMPDIR points at a private scratch directory; the flat tree and the default charset are
// reset.
class Flat : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteFile(m_body, "Hello\n");
        SetEnv(kTempVariable, m_tmp.path().c_str());
    }
    void TearDown() override
    {
        ClearBlockList();
        SelectDefaultCharset(GetACP(), g_szDefaultCharset);
        SetEnv(kTempVariable, m_saved.empty() ? nullptr : m_saved.c_str());
    }
    // The flat tree: UID (less the root's), type/encoding/subtype/data file name/suggested
    // name/charset/header file/parameters, '!' without a generated header, children in {}.
    std::string Dump(CBlock* b = nullptr, long base = 0)
    {
        if (b == nullptr && (b = FlatRootForTesting()) == nullptr)
            return "none";
        base = base == 0 ? b->GetUID() : base;
        std::string s = std::to_string(b->GetUID() - base) + ":" + std::to_string(b->GetContentType()) + "/" +
                        std::to_string(b->GetEncodeType()) + "/" + b->GetSubTypeString() + "/" +
                        Base(b->GetDataFile()) + "/" + b->GetSuggestName() + "/" + b->GetCharSetName() + "/" +
                        b->GetHeaderFile() + "/" + b->GetParameters() + (b->GetGenerateHeader() ? "" : "!");
        CObList* list = b->GetChildBlockList();
        for (POSITION pos = list ? list->GetHeadPosition() : nullptr; pos != nullptr;)
            if (CBlock* child = static_cast<CBlock*>(list->GetNext(pos)))
                s += (child->GetParentBlock() == b ? "{" : "{wrong parent ") + Dump(child, base) + "}";
        return s;
    }

    ScratchDir m_tmp, m_files;
    std::string m_body = m_files.file("body.txt"), m_saved = getenv(kTempVariable) ? getenv(kTempVariable) : "";
};

// Rows of flat/compose.tsv, in order. Columns: call (block, charset, derive, encode,
// encode-keep: without freeing, clear, codepage); parent (a label of an earlier row, else a
// number; the code page for codepage); data file (body: the body file; ~: null) or for
// encode the output file in the scratch directory ("": a generated name, ~: null); type;
// encoding; subtype (~: null); result (-1, 0, or a label for the new UID, which must exceed
// every earlier one); the tree after the call.
TEST_F(Flat, ComposeTable)
{
    std::map<std::string, long> uids{{"0", 0}};
    long last = 0;
    for (const Row& r : ReadTable("flat/compose.tsv"))
    {
        long parent = uids.count(r[1]) ? uids[r[1]] : std::atol(r[1].c_str()), got = 0;
        std::string data = r[2] == "body"                               ? m_body
                           : r[0].rfind("encode", 0) == 0 && r[2] != "" ? m_files.file(r[2])
                                                                        : r[2];
        const char *file = r[2] == "~" ? nullptr : data.c_str(),
                   *name = file ? file + data.size() - Base(data).size() : nullptr;
        if (r[0] == "block")
            got = AddBlockList(parent, file, name, std::stoul(r[3]), std::stoul(r[4]),
                               r[5] == "~" ? nullptr : r[5].c_str(), nullptr);
        else if (r[0] == "charset" || r[0] == "derive")
            got = (r[0] == "charset" ? AddCharSetBlockList : AddDeriveTypeBlockList)(parent, file, name);
        else if (r[0] == "clear")
            ClearBlockList();
        else if (r[0] == "codepage")
            SelectDefaultCharset(parent, g_szDefaultCharset);
        else
        {
            data.resize(4096);
            got = MIMEEncode(file ? &data[0] : nullptr, file && r[2] != "" ? 0 : 4096, r[0] == "encode");
            data = data.c_str();
            std::string message = file && Exists(data) ? ReadFile(data) : "";
            EXPECT_EQ(message.rfind("MIME-Version: 1.0\r\n", 0) == 0 && message.find("Hello") != std::string::npos,
                      got == 0 && file)
                << r.line;
            EXPECT_TRUE(r[2] != "" ||
                        (data == Join(m_tmp.path(), Base(data)) && data.find(".MME") == data.size() - 4 &&
                         std::remove(data.c_str()) == 0)); // so that the null path's file is the one found below
        }
        bool label = r[6] != "-1" && r[6] != "0";
        EXPECT_TRUE(label ? got > last : got == std::stol(r[6])) << r.line << ": " << got;
        last = label ? (uids[r[6]] = got) : last;
        EXPECT_EQ(Dump(), r[7]) << r.line;
    }
    EXPECT_NE(ListTree(m_tmp.path()).find(".MME"), std::string::npos); // from the null path
}

// Start-up in a fresh process, before any call: FLAT_STARTUP (set by CTest with
// MIMEENGINE_ACP) holds the charset, needs-encoding flag and encoding of "abc" expected;
// without it, the charset and flag are those of the process's code page.
TEST(FlatStartup, DefaultCharsetFromTheCodePage)
{
#if defined(_WIN32)
    GTEST_SKIP() << "on Windows start-up is DllMain's, which runs for mimeengine.dll only: flat_dll_startup checks it";
#endif
    char abc[] = "abc", encoded[256] = {0}, charset[64];
    EncodeBase64String(abc, encoded);
    std::string got = g_szDefaultCharset + std::string(g_bNeedsEncoding ? " 1 " : " 0 "), expected;
    if (const char* given = std::getenv("FLAT_STARTUP"))
        got += encoded, expected = given;
    else
        SelectDefaultCharset(GetACP(), charset), expected = charset + std::string(g_bNeedsEncoding ? " 1 " : " 0 ");
    EXPECT_EQ(got, expected);
    long root = AddBlockList(0, "", "", MIMEENGINE_CONTENT_MULTIPART, 0, "mixed", nullptr);
    EXPECT_TRUE(root > 0 && AddCharSetBlockList(0, "/dev/null", "note.txt") == (g_bNeedsEncoding ? -1 : root + 1));
    ClearBlockList();
}

// Runs a composing and a decoding sequence with allocation n failing, n = 0, 1, ... until a
// run has no failure. No exception may leave the calls, nor may they fail without a failed
// allocation; a failed decoding leaves nothing behind.
TEST_F(Flat, AllocationFailures)
{
    std::string mixed = DataPath("flat/mixed.eml"), out = m_files.file("out.eml");
    long n = 0, successes = 0;
    for (bool failed = true; failed && n < 100000; ++n)
    {
#if defined(__SANITIZE_ADDRESS__)
        __lsan::ScopedDisabler noLeakCheck; // memory stranded by unwinding elsewhere is not the subject
#endif
        char *text = nullptr, **list = nullptr;
        unsigned long count = 0;
        long rc = -1, ok = 0;
        g_allocationsBeforeFailure = n;
        EXPECT_NO_THROW({
            long root = AddBlockList(0, "", "", MIMEENGINE_CONTENT_MULTIPART, 0, "mixed", nullptr);
            if (root > 0 && AddDeriveTypeBlockList(root, m_body.c_str(), "body.txt") > 0 &&
                AddCharSetBlockList(root, m_body.c_str(), "note.txt") > 0)
                rc = MIMEEncode(&out[0], 0, TRUE);
            ok = DecodeMimeMessage(mixed.c_str(), &text, &count, &list);
        });
        failed = g_allocationsBeforeFailure < 0;
        g_allocationsBeforeFailure = -1;
        EXPECT_TRUE(rc == 0 ? Dump() == "none" : rc == -1);
        EXPECT_TRUE(ok ? text != nullptr : text == nullptr && count == 0 && list == nullptr);
        FreeMimeMsgText(&text);
        FreeMimeAttachmentList(count, &list);
        ClearBlockList();
        EXPECT_EQ(ListTree(m_tmp.path()), "") << "a work directory is left";
        EXPECT_TRUE((rc == 0 && ok) || failed) << "allocation " << n;
        successes += rc == 0 && ok;
    }
    EXPECT_TRUE(n > 1 && successes >= 1) << n << " runs";
}

// One realistic run, with the n-th call of a kind failing with an error, for every n the run
// makes: a message with an attachment is composed (flat), unpacked and decoded (flat). Each
// step ends in a failure (CFileException from Unpack), or with the outputs of the run without
// fault; nothing is left outside the work directory, nor of the decoding's own directory. An
// interrupted call (EINTR) is made again, and the run succeeds.
TEST_F(Flat, InjectedFaults)
{
    using platform::OsCall;
#if defined(_WIN32)
    const long kErrors[] = {ERROR_DISK_FULL, ERROR_WRITE_FAULT, ERROR_ACCESS_DENIED}, kInterrupted = -1;
#else
    const long kErrors[] = {ENOSPC, EIO, EACCES, EINTR}, kInterrupted = EINTR;
#endif
    const CTime now(944000000);
    CTime::SetCurrentTimeForTesting(&now);
    PlatformSetRandForTesting(+[] { return 42; });
    std::string logo, out = m_files.file("out.eml");
    for (int i = 0; i < 150000; ++i)
        logo += static_cast<char>(i * 7 % 251);
    WriteFile(m_files.file("logo.bin"), logo);
    // A text body with a file uuencoded in it, which the unpacking writes out on its own.
    WriteFile(m_files.file("note.txt"), "See:\nbegin 644 cat.txt\n#8V%T\n`\nend\n");
    const std::string inputs = ListTree(m_files.path());
    auto contents = [](const char* path) { return Exists(path) ? ReadFile(path) : std::string("?"); };
    // The outputs of each step, or "failed".
    auto run = [&] {
        std::string message = "failed", unpacked = "failed", decoded = "failed";
        std::remove(out.c_str());
        long root = AddBlockList(0, "", "", MIMEENGINE_CONTENT_MULTIPART, 0, "mixed", nullptr);
        if (root > 0 && AddDeriveTypeBlockList(root, m_body.c_str(), "body.txt") > 0 &&
            AddDeriveTypeBlockList(root, m_files.file("logo.bin").c_str(), "logo.bin") > 0 &&
            AddBlockList(root, m_files.file("note.txt").c_str(), "note.txt", MIMEENGINE_CONTENT_TEXT,
                         MIMEENGINE_ENCODE_7BIT, "plain", nullptr) > 0 &&
            MIMEEncode(&out[0], 0, TRUE) == 0)
            message = ReadFile(out);
        ClearBlockList();
        if (message == "failed")
            return std::vector<std::string>{message, message, message};
        const std::string work = m_files.mkdir("work");
        try
        {
            CMIMEEngine engine;
            CString source(out.c_str());
            _CME_RC rc = CME_FAILURE;
            Tree tree(engine.Unpack(source, work.c_str(), TRUE, rc));
            for (std::vector<const CBlock*> blocks{tree.get()}; rc == CME_SUCCESS && !blocks.empty();)
            {
                const auto* block = static_cast<const COutputBlock*>(blocks.back());
                blocks.pop_back();
                unpacked = (unpacked == "failed" ? "" : unpacked) + contents(block->GetHeaderFile()) + "|" +
                           (block->GetDataFile()[0] ? contents(block->GetDataFile()) : "") + "|";
                for (COutputBlock* child : Children(block))
                    blocks.push_back(child);
            }
        }
        catch (const CFileException&)
        {
        }
        char *text = nullptr, **list = nullptr;
        unsigned long count = 0;
        if (DecodeMimeMessage(out.c_str(), &text, &count, &list))
        {
            decoded = text + std::string("|");
            for (unsigned long i = 0; i < count; ++i)
                decoded += contents(list[i]) + "|";
        }
        else
            EXPECT_TRUE(text == nullptr && count == 0 && list == nullptr);
        FreeMimeMsgText(&text);
        FreeMimeAttachmentList(count, &list);
        std::filesystem::remove_all(work);
        EXPECT_EQ(ListTree(m_tmp.path()), "") << "left by the decoding";
        EXPECT_EQ(ListTree(m_files.path()), inputs + (Exists(out) ? "out.eml\n" : "")) << "left outside";
        EXPECT_EQ(ReadFile(m_files.file("logo.bin")), logo);
        return std::vector<std::string>{message, unpacked, decoded};
    };

    unsigned long long before[static_cast<int>(OsCall::Kinds)], after[static_cast<int>(OsCall::Kinds)];
    platform::CallCounts(before);
    const std::vector<std::string> reference = run();
    platform::CallCounts(after);
    ASSERT_EQ(std::count(reference.begin(), reference.end(), "failed"), 0);
    for (OsCall kind : {OsCall::Open, OsCall::Read, OsCall::Write, OsCall::Close, OsCall::Rename})
    {
        const int k = static_cast<int>(kind);
        int failures = 0;
        for (long error : kErrors)
            for (unsigned long long n = 1; n <= after[k] - before[k]; ++n)
            {
                SCOPED_TRACE(testing::Message() << "call kind " << k << " number " << n << " error " << error);
                platform::FailCall(kind, n, error);
                const std::vector<std::string> got = run();
                platform::FailCall(kind, 0, 0);
                // Flat decoding does not look at the parse's result: a header work file that
                // cannot be made ends the tree early, and what was read before is returned.
                for (size_t step = 0; step < got.size(); ++step)
                    EXPECT_TRUE(
                        got[step] == reference[step] ||
                        (error != kInterrupted && (got[step] == "failed" || (step == 2 && kind == OsCall::Open))))
                        << "step " << step << ": " << got[step] << " instead of " << reference[step];
                failures += got != reference;
            }
        EXPECT_TRUE(failures > 0 || after[k] == before[k]) << "kind " << k;
    }
    CTime::SetCurrentTimeForTesting(nullptr);
    PlatformSetRandForTesting(nullptr);
}

} // namespace
