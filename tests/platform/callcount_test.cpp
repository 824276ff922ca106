// The system calls that unpacking one message costs, as counted by the platform layer:
// each row is a typical message and the most calls it may take, so that the cost per
// message cannot creep back up unnoticed.
#include "mimeengine/mimeengine.h"
#include "platform/oscalls.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <string>

using namespace testsupport;

namespace
{

constexpr int kKinds = static_cast<int>(platform::OsCall::Kinds);

std::string Repeat(const std::string& text, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += text;
    return out;
}

const std::string kHeader = "From: Ada <ada@example.org>\r\nTo: Ben <ben@example.org>\r\n"
                            "Subject: figures\r\nDate: Tue, 1 Dec 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\n";

const std::string kQuotedText = Repeat("The figures for the first half are attached, as agreed =E9t=E9 =\r\n"
                                       "and the totals are below.\r\n",
                                       40);

struct Row
{
    const char* name;
    std::string message;
    // Most calls per message, of all kinds and of the kinds Open and Stat.
    int maxCalls;
    int maxOpens;
    int maxStats;
};

const Row kRows[] = {
    {"single quoted-printable text",
     kHeader + "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
         kQuotedText,
     // One read: the message's end is known from its size when it is opened.
     10, 3, 1},
    {"multipart/alternative",
     kHeader +
         "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n--alt\r\n"
         "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
         kQuotedText + "--alt\r\nContent-Type: text/html\r\n\r\n<html><body>" + Repeat("<p>figures</p>\r\n", 60) +
         "</body></html>\r\n--alt--\r\n",
     19, 6, 1},
    {"multipart/mixed with a base64 attachment",
     kHeader + "Content-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n--mix\r\nContent-Type: text/plain\r\n\r\n" +
         Repeat("See the attachment.\r\n", 20) +
         "--mix\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
         "Content-Disposition: attachment; filename=\"data.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
         Repeat("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\r\n", 80) + "--mix--\r\n",
     // The named attachment is created at its name in one call: no look first.
     19, 6, 1},
    {"five attachments of one name",
     kHeader + "Content-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n" +
         Repeat("--mix\r\nContent-Type: application/octet-stream; name=\"same.bin\"\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\nAAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g\r\n",
                5) +
         "--mix--\r\n",
     // A name already given out in the run is not tried again: the next number is created
     // at once.
     37, 12, 1},
};

TEST(CallCounts, UnpackingStaysWithinItsBound)
{
    if (!kCountsSystemCalls)
        GTEST_SKIP() << "the platform layer of this system does not count its calls";
    constexpr int kRuns = 10;
    for (const Row& row : kRows)
    {
        ScratchDir scratch;
        const std::string source = scratch.file("message.eml");
        WriteFile(source, row.message);
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
            EXPECT_EQ(rc, CME_SUCCESS) << row.name;
            EXPECT_NE(root, nullptr) << row.name;
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
        EXPECT_LE(total, row.maxCalls) << row.name << ":" << kinds;
        EXPECT_LE(per[static_cast<int>(platform::OsCall::Open)], row.maxOpens) << row.name << ":" << kinds;
        EXPECT_LE(per[static_cast<int>(platform::OsCall::Stat)], row.maxStats) << row.name << ":" << kinds;
    }
}

} // namespace
