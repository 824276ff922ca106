#include "decode/harness.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

namespace decodetest
{

COutputBlock* NewMultipart(const char* boundary)
{
    COutputBlock* block = new COutputBlock;
    block->SetContentType(CMIMEPart::CONTENT_MULTIPART);
    block->SetBoundary(boundary);
    return block;
}

void Attach(COutputBlock* parent, COutputBlock* child)
{
    CString message;
    EXPECT_EQ(CME_SUCCESS, parent->AddChildBlock(child, message));
}

Tree::Tree(const char* boundary)
    : m_outer(NewMultipart("--outer")), m_inner(NewMultipart(boundary)), m_leaf(new COutputBlock)
{
    Attach(m_outer, m_inner);
    Attach(m_inner, m_leaf);
}

Tree::~Tree()
{
    m_outer->DeleteChildBlocks();
    delete m_outer;
}

std::string WithEnds(const std::string& text, Ends ends)
{
    if (ends == Ends::LF)
        return text;
    std::string out;
    for (char c : text)
    {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

const char* EndsName(Ends ends)
{
    return ends == Ends::LF ? "LF" : "CRLF";
}

DecodeRun RunDecoder(const Decoder& decoder, COutputBlock* block, const std::string& message,
                     const std::string& workDir, int skipLines)
{
    static int counter = 0;
    std::string path = workDir + "/../source-" + std::to_string(++counter) + ".eml";
    testsupport::WriteFile(path, message);

    DecodeRun run;
    {
        CWfxFile file(CString(path.c_str()), CFile::shareDenyWrite, FALSE, TRUE);
        EXPECT_TRUE(file.IsOpen());
        CUnpacker unpacker;
        unpacker.m_WorkDirectory = workDir.c_str();
        char a[LINE_BUFFER_SIZE];
        strcpy(a, "\n");
        char* line = a;
        for (int i = 0; i < skipLines; ++i)
            file.ReadString(line, LINE_READ_LIMIT);
        // What the decoder finds in the buffer when called must not matter.
        strcpy(line, "--b\n");
        run.rc = decoder(unpacker, block, &line, &file);
        run.line = line;
        run.next = testsupport::ReadFile(path).substr(static_cast<size_t>(file.GetPosition()));
    }
    run.dataFile = block->GetDataFile();
    if (!run.dataFile.empty() && testsupport::Exists(run.dataFile))
        run.output = testsupport::ReadFile(run.dataFile);
    std::remove(path.c_str());
    return run;
}

} // namespace decodetest
