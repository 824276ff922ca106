// Hostile input: deep nesting, very many parts, and the generated adversarial messages.
// Nothing may crash, nothing may be written outside the work directory, and the time
// must stay bounded.
#include "support/minijson.h"
#include "tests/unpack/unpacktest.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using testsupport::ReadFile;
using unpacktest::Children;
using unpacktest::Crlf;
using unpacktest::Parse;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Number of levels along the chain of first children (the root counts as 1).
int ChainDepth(const COutputBlock* block)
{
    int depth = 0;
    for (; block != nullptr; ++depth)
    {
        auto children = Children(block);
        block = children.empty() ? nullptr : children.front();
    }
    return depth;
}

// Boundary of nesting level i; no boundary is a prefix of another.
std::string B(int i)
{
    return "bnd" + std::to_string(i) + "z";
}

// 10,000 nested multiparts, then a last part of the outermost one that must still be found.
TEST(Hostile, DeepMultipartNestingIsCappedAndTheRestParses)
{
    const int levels = 10000;
    std::string m = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=" + B(0) + "\r\n\r\n";
    for (int i = 0; i < levels; ++i)
        m += "--" + B(i) + "\r\nContent-Type: multipart/mixed; boundary=" + B(i + 1) + "\r\n\r\n";
    m += "--" + B(levels) + "\r\nContent-Type: text/plain\r\n\r\ndeepest\r\n";
    for (int i = levels; i >= 1; --i)
        m += "--" + B(i) + "--\r\n";
    m += "--" + B(0) + "\r\nContent-Type: text/plain\r\n\r\ntail\r\n--" + B(0) + "--\r\n";

    for (BOOL extract : {TRUE, FALSE})
    {
        auto start = Clock::now();
        Parse run(m, extract);
        EXPECT_LT(SecondsSince(start), 20.0);
        ASSERT_NE(nullptr, run.root) << extract;
        EXPECT_EQ(CME_SUCCESS, run.rc) << extract;
        auto top = Children(run.root.get());
        ASSERT_EQ(2u, top.size()) << extract;
        if (extract)
        {
            // Root, then MAX_NESTING_DEPTH entered levels; the block below is kept unentered.
            EXPECT_EQ(MAX_NESTING_DEPTH + 1, ChainDepth(run.root.get()));
            EXPECT_EQ("tail\r\n", ReadFile(top[1]->GetDataFile()));
        }
        else
        {
            EXPECT_EQ(2, ChainDepth(run.root.get()));
        }
    }
}

// Embedded messages nested 10,000 deep: the same cap applies.
TEST(Hostile, DeepMessageNestingIsCapped)
{
    std::string m = "MIME-Version: 1.0\r\n";
    for (int i = 0; i < 10000; ++i)
        m += "Content-Type: message/rfc822\r\n\r\n";
    m += "Content-Type: text/plain\r\n\r\nbody\r\n";
    auto start = Clock::now();
    Parse run(m);
    EXPECT_LT(SecondsSince(start), 20.0);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_EQ(MAX_NESTING_DEPTH + 1, ChainDepth(run.root.get()));
}

// The deepest entered multipart still has its leaves decoded.
TEST(Hostile, NestingUpToTheLimitIsFollowed)
{
    const int levels = MAX_NESTING_DEPTH - 1;
    std::string m = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=" + B(0) + "\r\n\r\n";
    for (int i = 0; i < levels; ++i)
        m += "--" + B(i) + "\r\nContent-Type: multipart/mixed; boundary=" + B(i + 1) + "\r\n\r\n";
    m += "--" + B(levels) + "\r\nContent-Type: text/plain\r\n\r\ndeepest\r\n";
    Parse run(m);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_EQ(MAX_NESTING_DEPTH + 1, ChainDepth(run.root.get()));
    const COutputBlock* block = run.root.get();
    while (!Children(block).empty())
        block = Children(block).front();
    EXPECT_EQ("deepest\r\n", ReadFile(block->GetDataFile()));
}

// 100,000 parts: every one becomes a child, in time linear in the message.
TEST(Hostile, HundredThousandParts)
{
    const int parts = 100000;
    static_assert(parts <= MAX_PARTS, "the default limit keeps this many parts");
    std::string m = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=p\r\n\r\n";
    for (int i = 0; i < parts; ++i)
        m += "--p\r\nContent-Type: text/plain\r\n\r\nx\r\n";
    m += "--p--\r\n";
    auto start = Clock::now();
    Parse run(m, FALSE);
    EXPECT_LT(SecondsSince(start), 120.0);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_EQ(static_cast<size_t>(parts), Children(run.root.get()).size());
}

// A message of more parts than the limit keeps that many; the rest are passed over without
// blocks or files, and the walk still ends at the close delimiter. Counted over the whole
// tree: the parts of an inner multipart use up the limit for the outer one too.
TEST(Hostile, PartsBeyondTheLimitArePassedOver)
{
    const int limit = 200;
    // Without extraction: every child header is read (one header work file each).
    std::string flat = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=p\r\n\r\n";
    for (int i = 0; i < limit + 50; ++i)
        flat += "--p\r\nContent-Type: text/plain\r\n\r\nx\r\n";
    flat += "--p--\r\n";
    Parse headers(flat, FALSE, limit);
    ASSERT_NE(nullptr, headers.root);
    EXPECT_EQ(CME_SUCCESS, headers.rc);
    EXPECT_EQ(static_cast<size_t>(limit), Children(headers.root.get()).size());

    // With extraction: an inner multipart of more parts than the limit, then a part of the
    // outer one. The inner multipart counts as one part itself.
    std::string nested = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=o\r\n\r\n"
                         "--o\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\n";
    for (int i = 0; i < limit + 10; ++i)
        nested += "--i\r\nContent-Type: text/plain\r\n\r\nx\r\n";
    nested += "--i--\r\n--o\r\nContent-Type: text/plain\r\n\r\nlate\r\n--o--\r\n";
    Parse run(nested, TRUE, limit);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    auto top = Children(run.root.get());
    ASSERT_EQ(1u, top.size());
    auto inner = Children(top[0]);
    EXPECT_EQ(static_cast<size_t>(limit - 1), inner.size());
    EXPECT_EQ("x\r\n", ReadFile(inner.back()->GetDataFile()));
}

// An embedded message past the limit is kept as a part, but its message is not read.
TEST(Hostile, EmbeddedMessagePastThePartLimitIsNotEntered)
{
    const int limit = 40;
    std::string m = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=p\r\n\r\n";
    for (int i = 0; i < limit - 1; ++i)
        m += "--p\r\n\r\n";
    m += "--p\r\nContent-Type: message/rfc822\r\n\r\nContent-Type: text/plain\r\n\r\ninner\r\n--p--\r\n";
    Parse run(m, FALSE, limit);
    ASSERT_NE(nullptr, run.root);
    auto top = Children(run.root.get());
    ASSERT_EQ(static_cast<size_t>(limit), top.size());
    EXPECT_EQ(CMIMEPart::CONTENT_MESSAGE, top.back()->GetContentType());
    EXPECT_TRUE(Children(top.back()).empty());
}

TEST(Hostile, ThousandsOfSameNamedAttachments)
{
    const int parts = 3000;
    std::string m = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=p\r\n\r\n";
    for (int i = 0; i < parts; ++i)
        m += "--p\r\nContent-Type: application/octet-stream; name=\"dup.bin\"\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\nAAEC\r\n";
    m += "--p--\r\n";
    auto start = Clock::now();
    Parse run(m);
    EXPECT_LT(SecondsSince(start), 60.0);
    ASSERT_NE(nullptr, run.root);
    auto children = Children(run.root.get());
    ASSERT_EQ(static_cast<size_t>(parts), children.size());
    EXPECT_EQ(run.work + "/dup.bin", children[0]->GetDataFile());
    EXPECT_EQ(run.work + "/dup (2).bin", children[1]->GetDataFile());
    EXPECT_EQ(run.work + "/dup (3000).bin", children.back()->GetDataFile());
}

// The folder of the shared test material: MIMEENGINE_SHARED_DIR, else "shared" beside the
// source tree. Empty when neither exists.
std::string SharedDir()
{
    if (const char* env = std::getenv("MIMEENGINE_SHARED_DIR"))
        if (fs::is_directory(env))
            return env;
    fs::path beside = fs::path(MIMEENGINE_SOURCE_DIR) / ".." / "shared";
    return fs::is_directory(beside) ? beside.string() : std::string();
}

// Every regular file below root that is not below skip, with its contents.
std::map<std::string, std::string> Snapshot(const std::string& root, const std::string& skip)
{
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
    {
        const std::string path = it->path().string();
        if (path.rfind(skip, 0) == 0)
            continue;
        std::string content;
        if (it->is_symlink())
            content = "-> " + fs::read_symlink(it->path()).string();
        else if (it->is_regular_file())
            content = ReadFile(path);
        else
            content = "<dir>";
        out[fs::relative(path, root).string()] = content;
    }
    return out;
}

std::string Replace(std::string s, const std::string& from, const std::string& to)
{
    if (s.rfind(from, 0) == 0)
        s = to + s.substr(from.size());
    return s;
}

TEST(Hostile, AdversarialMessages)
{
    const std::string shared = SharedDir();
    const std::string generator = shared + "/adversarial/gen_adversarial.py";
    if (shared.empty() || !fs::exists(generator))
        GTEST_SKIP() << "shared test material not found";

    testsupport::ScratchDir gen;
    const std::string out = gen.file("cases");
    const std::string command = "python3 '" + generator + "' '" + out + "' --scale 0.01 > /dev/null";
    ASSERT_EQ(0, std::system(command.c_str()));
    const testsupport::Json manifest = testsupport::ParseJson(ReadFile(out + "/MANIFEST.json"));
    const std::string systemCanary = manifest["canary"].Str();
    const auto canaryBefore =
        systemCanary.empty() ? std::map<std::string, std::string>() : Snapshot(systemCanary, "\x01");

    int parsed = 0;
    for (const testsupport::Json& c : manifest["cases"].items)
    {
        const std::string name = c["name"].Str();
        const std::string file = c["file"].Str();
        if (file.size() < 4 || file.compare(file.size() - 4, 4, ".eml") != 0 || !fs::exists(out + "/" + file))
            continue;
        for (int mode = 0; mode < 3; ++mode)
        {
            // The work directory lies four levels below the scratch root.
            testsupport::ScratchDir root;
            const std::string work = root.mkdir("l1/l2/l3/work");
            const std::string canary = root.mkdir("canary");
            for (const testsupport::Json& step : c["setup"].items)
            {
                std::string path = Replace(Replace(step["path"].Str(), "W/", work + "/"), "CANARY/", canary + "/");
                if (step["op"].Str() == "write_file")
                    testsupport::WriteFile(path, step["content"].Str());
                else if (step["op"].Str() == "symlink")
                {
                    std::string to = Replace(Replace(step["to"].Str(), "W/", work + "/"), "CANARY/", canary + "/");
                    if (to == "CANARY")
                        to = canary;
                    ASSERT_EQ(0, symlink(to.c_str(), path.c_str())) << name;
                }
            }
            const std::string source = root.file("message.eml");
            fs::copy_file(out + "/" + file, source);
            const auto before = Snapshot(root.path(), work + "/");
            const auto workBefore = Snapshot(work, "\x01");

            auto start = Clock::now();
            CMIMEEngine engine;
            CString path(source.c_str());
            _CME_RC rc = CME_SUCCESS;
            COutputBlock* tree = nullptr;
            try
            {
                tree = mode == 2 ? engine.UnpackBody(path, work.c_str(), TRUE, rc)
                                 : engine.Unpack(path, work.c_str(), mode == 0 ? TRUE : FALSE, rc);
            }
            catch (CFileException&)
            {
                // A decoded body that cannot be created even under a fallback name ends the
                // run with the framework's exception; that is allowed, a crash is not.
            }
            engine.FreeBlocks(tree);
            EXPECT_LT(SecondsSince(start), 30.0) << name << " mode " << mode;

            EXPECT_EQ(before, Snapshot(root.path(), work + "/")) << name << " mode " << mode;
            // Files that were in the work directory before the run are left as they were.
            const auto workAfter = Snapshot(work, "\x01");
            for (const auto& [entry, content] : workBefore)
            {
                auto it = workAfter.find(entry);
                ASSERT_NE(workAfter.end(), it) << name << ": " << entry;
                EXPECT_EQ(content, it->second) << name << ": " << entry;
            }
            ++parsed;
        }
    }
    EXPECT_GT(parsed, 150);
    if (!systemCanary.empty())
    {
        EXPECT_EQ(canaryBefore, Snapshot(systemCanary, "\x01"));
    }
}

} // namespace
