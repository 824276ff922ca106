// Engines on several threads at once, unpacking and packing into separate and into shared
// directories, compared with the same work on one thread (scripts/test-threads.sh runs it
// under ThreadSanitizer).
#include "mimeengine/mimeengine.h"
#include "mimeengine/platform/ctime.h"
#include "support/testsupport.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace testsupport;

namespace
{

constexpr int kThreads = 4;
constexpr int kRounds = 3;
constexpr size_t kCount = 4;
// Text, a forwarded message, base64 and uuencoded attachments.
const char* const kMessages[kCount] = {"examples/messages/report.eml", "examples/messages/lunch.eml",
                                       "tests/data/unpack/binary-child.eml",
                                       "tests/data/unpack/child-without-subtype.eml"};

// The dump of a tree unpacked into work, and the data and header files it names.
struct Unpacked
{
    std::string dump;
    std::vector<std::string> files;
};

void CollectFiles(const COutputBlock* block, std::vector<std::string>& files)
{
    for (const char* file : {block->GetDataFile(), block->GetHeaderFile()})
        if (file[0] != '\0')
            files.push_back(file);
    for (const COutputBlock* child : Children(block))
        CollectFiles(child, files);
}

Unpacked UnpackInto(size_t message, const std::string& work)
{
    CMIMEEngine engine;
    CString source((std::string(MIMEENGINE_SOURCE_DIR) + kSeparator + kMessages[message]).c_str());
    _CME_RC rc = CME_FAILURE;
    Tree root(engine.Unpack(source, work.c_str(), TRUE, rc));
    Unpacked result{"rc " + std::to_string(rc) + "\n" + DumpTree(root.get(), work), {}};
    if (root)
        CollectFiles(root.get(), result.files);
    return result;
}

// Packs a text and an attachment into each of outputs (empty: a new .MME file of the
// temporary directory) with one engine, whose generator runs on from pack to pack; the
// paths written.
std::vector<std::string> PackInto(const std::string& inputs, const std::vector<std::string>& outputs)
{
    CMIMEEngine engine;
    std::vector<std::string> paths;
    for (const std::string& output : outputs)
    {
        CInputBlock* root = engine.StartCreate(nullptr, nullptr, CMIMEPart::CONTENT_MULTIPART,
                                               CMIMEPart::ENCODE_UNKNOWN, "mixed", nullptr, TRUE, nullptr);
        engine.AddInputBlock(root, Join(inputs, "note.txt").c_str(), nullptr, CMIMEPart::CONTENT_TEXT,
                             CMIMEPart::ENCODE_QUOTED_PRINTABLE, "plain", nullptr, TRUE, nullptr);
        engine.AddInputBlock(root, Join(inputs, "dot.gif").c_str(), nullptr, CMIMEPart::CONTENT_UNKNOWN,
                             CMIMEPart::ENCODE_UNKNOWN, nullptr, nullptr, TRUE, nullptr);
        char path[260] = {};
        output.copy(path, sizeof path - 1);
        paths.push_back(engine.Pack(root, path, sizeof path, TRUE) == CME_SUCCESS ? path : "(pack failed)");
    }
    return paths;
}

class Threads : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A fixed clock gives every run the same work-file names and boundaries.
        const CTime fixed(2026, 5, 6, 7, 8, 9);
        CTime::SetCurrentTimeForTesting(&fixed);
        WriteFile(Join(inputs, "note.txt"), "Hello,\r\nthe notes are attached. Caf\xe9 at 10.\r\n");
        WriteFile(Join(inputs, "dot.gif"), AllBytes());
        for (size_t m = 0; m < kCount; ++m)
            single.push_back(UnpackInto(m, scratch.mkdir("single" + std::to_string(m))));
        for (const std::string& path :
             PackInto(inputs, {scratch.file("s0.eml"), scratch.file("s1.eml"), scratch.file("s2.eml")}))
            singlePacked.push_back(ReadFile(path));
    }
    void TearDown() override { CTime::SetCurrentTimeForTesting(nullptr); }

    // Every thread unpacks each message into directory(t, r, m) and packs three messages into
    // packTo(t, r, 0..2), kRounds times; per thread, what it unpacked (in order) and the paths
    // it packed.
    void Run(std::function<std::string(int, int, size_t)> directory, std::function<std::string(int, int, int)> packTo)
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int r = 0; r < kRounds; ++r)
                {
                    for (size_t m = 0; m < kCount; ++m)
                        unpacked[t].push_back(UnpackInto(m, directory(t, r, m)));
                    for (const std::string& path :
                         PackInto(inputs, {packTo(t, r, 0), packTo(t, r, 1), packTo(t, r, 2)}))
                        packed[t].push_back(path);
                }
            });
        for (std::thread& thread : threads)
            thread.join();
    }

    ScratchDir scratch;
    std::string inputs = scratch.mkdir("inputs");
    std::vector<Unpacked> single;
    std::vector<std::string> singlePacked;
    std::vector<Unpacked> unpacked[kThreads];
    std::vector<std::string> packed[kThreads];
};

TEST_F(Threads, SeparateDirectoriesGiveWhatOneThreadGives)
{
    auto name = [](int t, int r, size_t m) {
        return std::to_string(t) + "-" + std::to_string(r) + "-" + std::to_string(m);
    };
    for (int t = 0; t < kThreads; ++t)
        for (int r = 0; r < kRounds; ++r)
            for (size_t m = 0; m < kCount; ++m)
                scratch.mkdir(name(t, r, m));
    Run([&](int t, int r, size_t m) { return scratch.file(name(t, r, m)); },
        [&](int t, int r, int p) { return scratch.file(name(t, r, 9 + p) + ".eml"); });
    for (int t = 0; t < kThreads; ++t)
    {
        ASSERT_EQ(unpacked[t].size(), kRounds * kCount);
        for (size_t i = 0; i < unpacked[t].size(); ++i)
            EXPECT_EQ(unpacked[t][i].dump, single[i % kCount].dump) << "thread " << t << ", " << kMessages[i % kCount];
        // The same boundaries as alone: each thread draws from a generator of its own.
        for (size_t i = 0; i < packed[t].size(); ++i)
            EXPECT_EQ(ReadFile(packed[t][i]), singlePacked[i % 3]) << packed[t][i];
    }
}

TEST_F(Threads, SharedDirectoryGivesEveryFileItsOwnName)
{
    const std::string shared = scratch.mkdir("shared");
    ASSERT_EQ(SetEnv(kTempVariable, scratch.mkdir("temp").c_str()), 0);
    Run([&](int, int, size_t) { return shared; }, [](int, int, int) { return std::string(); });
    SetEnv(kTempVariable, nullptr);

    // Every file named by a tree or written by a pack has a name of its own, and holds the
    // bytes that one thread alone writes for the same part.
    std::vector<std::string> names, contents, expected;
    for (int t = 0; t < kThreads; ++t)
    {
        for (size_t i = 0; i < unpacked[t].size(); ++i)
        {
            const Unpacked& alone = single[i % kCount];
            ASSERT_EQ(unpacked[t][i].files.size(), alone.files.size()) << unpacked[t][i].dump;
            for (size_t f = 0; f < alone.files.size(); ++f)
            {
                names.push_back(unpacked[t][i].files[f]);
                contents.push_back(ReadFile(unpacked[t][i].files[f]));
                expected.push_back(ReadFile(alone.files[f]));
            }
        }
        for (size_t i = 0; i < packed[t].size(); ++i)
        {
            names.push_back(packed[t][i]);
            EXPECT_EQ(ReadFile(packed[t][i]), singlePacked[i % 3]) << packed[t][i];
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << "a name given twice";
    std::sort(contents.begin(), contents.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(contents, expected);
}

} // namespace
