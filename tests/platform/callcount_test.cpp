// The system calls that unpacking one message costs, as counted by the platform layer:
// each row of callcounts.tsv is a typical message and the most calls it may take, so that
// the cost per message cannot creep back up unnoticed.
#include "mimeengine/mimeengine.h"
#include "platform/oscalls.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <string>

using namespace testsupport;

namespace
{

constexpr int kKinds = static_cast<int>(platform::OsCall::Kinds);

TEST(CallCounts, UnpackingStaysWithinItsBound)
{
    if (!kCountsSystemCalls)
        GTEST_SKIP() << "the platform layer of this system does not count its calls";
    constexpr int kRuns = 10;
    for (const Row& row : ReadTable("platform/callcounts.tsv"))
    {
        const std::string name = row[0] + " (line " + std::to_string(row.line) + ")";
        ScratchDir scratch;
        const std::string source = scratch.file("message.eml");
        WriteFile(source, row[1]);
        std::string works[kRuns];
        for (int run = 0; run < kRuns; ++run)
            works[run] = scratch.mkdir("work" + std::to_string(run));

        unsigned long long before[kKinds], after[kKinds];
        platform::CallCounts(before);
        for (const std::string& work : works)
        {
            CMIMEEngine engine;
            CString path(source.c_str());
            _CME_RC rc = CME_FAILURE;
            COutputBlock* root = engine.Unpack(path, work.c_str(), TRUE, rc);
            EXPECT_EQ(rc, CME_SUCCESS) << name;
            EXPECT_NE(root, nullptr) << name;
            engine.FreeBlocks(root);
        }
        platform::CallCounts(after);

        // Open, stat, read, write, seek, close and other calls per message.
        double per[kKinds], total = 0;
        std::string kinds;
        for (int k = 0; k < kKinds; ++k)
        {
            per[k] = static_cast<double>(after[k] - before[k]) / kRuns;
            total += per[k];
            kinds += " " + std::to_string(per[k]);
        }
        EXPECT_LE(total, std::stoi(row[2])) << name << ":" << kinds;
        EXPECT_LE(per[static_cast<int>(platform::OsCall::Open)], std::stoi(row[3])) << name << ":" << kinds;
        EXPECT_LE(per[static_cast<int>(platform::OsCall::Stat)], std::stoi(row[4])) << name << ":" << kinds;
    }
}

} // namespace
