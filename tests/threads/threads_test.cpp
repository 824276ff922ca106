// Engines on several threads at once: each thread unpacks the sample messages and packs a
// message, into directories of its own and into one shared directory, and every result is
// compared with the same work done on one thread. Built with -fsanitize=thread by
// scripts/test-threads.sh.
#include "mimeengine/mimeengine.h"
#include "mimeengine/platform/ctime.h"
#include "support/testsupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

using namespace testsupport;

namespace
{

constexpr int kThreads = 4;
constexpr int kRounds = 3;

// The messages unpacked: two of the examples and cases with a base64 attachment, a
// uuencoded file and a nested message.
const char* const kMessages[] = {"examples/messages/report.eml", "examples/messages/lunch.eml",
                                 "tests/data/unpack/binary-child.eml", "tests/data/unpack/child-without-subtype.eml"};

std::string Source(const char* relative)
{
    return std::string(MIMEENGINE_SOURCE_DIR) + kSeparator + relative;
}

// Unpacks message into work; the dump of the tree, and the data and header files named.
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

Unpacked UnpackInto(const std::string& message, const std::string& work)
{
    CMIMEEngine engine;
    CString source(message.c_str());
    _CME_RC rc = CME_FAILURE;
    Tree root(engine.Unpack(source, work.c_str(), TRUE, rc));
    Unpacked result;
    result.dump = "rc " + std::to_string(rc) + "\n" + DumpTree(root.get(), work);
    if (root)
        CollectFiles(root.get(), result.files);
    return result;
}

// Packs a text and an attachment into output (empty: a new .MME file of the temporary
// directory); the path written.
std::string PackInto(const std::string& inputs, const std::string& output)
{
    CMIMEEngine engine;
    CInputBlock* root = engine.StartCreate(nullptr, nullptr, CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_UNKNOWN,
                                           "mixed", nullptr, TRUE, nullptr);
    engine.AddInputBlock(root, Join(inputs, "note.txt").c_str(), nullptr, CMIMEPart::CONTENT_TEXT,
                         CMIMEPart::ENCODE_QUOTED_PRINTABLE, "plain", nullptr, TRUE, nullptr);
    engine.AddInputBlock(root, Join(inputs, "dot.gif").c_str(), nullptr, CMIMEPart::CONTENT_UNKNOWN,
                         CMIMEPart::ENCODE_UNKNOWN, nullptr, nullptr, TRUE, nullptr);
    char path[260] = {};
    output.copy(path, sizeof path - 1);
    if (engine.Pack(root, path, sizeof path, TRUE) != CME_SUCCESS)
        return "(pack failed)";
    return path;
}

// The work of one thread: every message kRounds times, and one packed message per round.
struct ThreadResult
{
    std::vector<Unpacked> unpacked;
    std::vector<std::string> packed; // paths
};

class Threads : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A fixed clock gives every run the same work-file names and boundaries.
        const CTime fixed(2026, 5, 6, 7, 8, 9);
        CTime::SetCurrentTimeForTesting(&fixed);
        inputs = scratch.mkdir("inputs");
        WriteFile(Join(inputs, "note.txt"), "Hello,\r\nthe notes are attached. Caf\xe9 at 10.\r\n");
        WriteFile(Join(inputs, "dot.gif"), AllBytes());
        for (const char* message : kMessages)
            single.push_back(UnpackInto(Source(message), scratch.mkdir("single-" + BaseOf(message))));
        singlePacked = ReadFile(PackInto(inputs, scratch.file("single.eml")));
    }
    void TearDown() override { CTime::SetCurrentTimeForTesting(nullptr); }

    static std::string BaseOf(const char* message)
    {
        return std::string(message).substr(std::string(message).rfind('/') + 1);
    }

    // Runs kThreads threads at once; directory(t, r, message) is where each unpack goes,
    // packTo(t, r) where each pack goes.
    template <typename Dir, typename PackTo> std::vector<ThreadResult> Run(Dir directory, PackTo packTo)
    {
        std::vector<ThreadResult> results(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int r = 0; r < kRounds; ++r)
                {
                    for (const char* message : kMessages)
                        results[t].unpacked.push_back(UnpackInto(Source(message), directory(t, r, message)));
                    results[t].packed.push_back(PackInto(inputs, packTo(t, r)));
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        return results;
    }

    ScratchDir scratch;
    std::string inputs;
    std::vector<Unpacked> single;
    std::string singlePacked;
};

TEST_F(Threads, SeparateDirectoriesGiveWhatOneThreadGives)
{
    auto name = [](int t, int r, const char* message) {
        return "t" + std::to_string(t) + "-" + std::to_string(r) + "-" + BaseOf(message);
    };
    for (int t = 0; t < kThreads; ++t)
        for (int r = 0; r < kRounds; ++r)
            for (const char* message : kMessages)
                scratch.mkdir(name(t, r, message));
    auto results = Run(
        [&](int t, int r, const char* message) { return scratch.file(name(t, r, message)); },
        [&](int t, int r) { return scratch.file("packed-" + std::to_string(t) + "-" + std::to_string(r) + ".eml"); });

    const size_t count = std::size(kMessages);
    for (int t = 0; t < kThreads; ++t)
    {
        ASSERT_EQ(results[t].unpacked.size(), kRounds * count);
        for (size_t i = 0; i < results[t].unpacked.size(); ++i)
            EXPECT_EQ(results[t].unpacked[i].dump, single[i % count].dump)
                << "thread " << t << ", " << kMessages[i % count];
        // The same boundaries as alone: each thread draws from a generator of its own.
        for (const std::string& packed : results[t].packed)
            EXPECT_EQ(ReadFile(packed), singlePacked) << packed;
    }
}

TEST_F(Threads, SharedDirectoryGivesEveryFileItsOwnName)
{
    const std::string shared = scratch.mkdir("shared");
    const std::string temp = scratch.mkdir("temp");
    ASSERT_EQ(SetEnv(kTempVariable, temp.c_str()), 0);
    auto results = Run([&](int, int, const char*) { return shared; }, [](int, int) { return std::string(); });
    SetEnv(kTempVariable, nullptr);

    // Every file named by a tree or written by a pack is a file of its own, and its bytes
    // are those that one thread alone gets for the same part.
    std::vector<std::string> names;
    std::vector<std::string> contents;
    std::vector<std::string> expected;
    for (const ThreadResult& result : results)
    {
        for (size_t i = 0; i < result.unpacked.size(); ++i)
        {
            const Unpacked& got = result.unpacked[i];
            const Unpacked& alone = single[i % std::size(kMessages)];
            ASSERT_EQ(got.files.size(), alone.files.size()) << got.dump;
            for (size_t f = 0; f < got.files.size(); ++f)
            {
                names.push_back(got.files[f]);
                contents.push_back(ReadFile(got.files[f]));
                expected.push_back(ReadFile(alone.files[f]));
            }
        }
        for (const std::string& packed : result.packed)
        {
            names.push_back(packed);
            EXPECT_EQ(ReadFile(packed), singlePacked) << packed;
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << "a name given twice";
    std::sort(contents.begin(), contents.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(contents, expected);
}

} // namespace
