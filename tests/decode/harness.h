// Test harness for the body decoders: small block trees built by hand, and a runner that
// puts a body into a message file and calls one decoder on it.
#pragma once

#include "mimeengine/unpack/unpacker.h"
#include "support/testsupport.h"

#include <functional>
#include <string>

namespace decodetest
{

// outer multipart ("--outer") > inner multipart (boundary) > leaf.
class Tree
{
public:
    explicit Tree(const char* boundary = "--b");
    ~Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    COutputBlock* outer() const { return m_outer; }
    COutputBlock* inner() const { return m_inner; }
    COutputBlock* leaf() const { return m_leaf; }

private:
    COutputBlock* m_outer;
    COutputBlock* m_inner;
    COutputBlock* m_leaf;
};

// A multipart block with the given delimiter field.
COutputBlock* NewMultipart(const char* boundary);
// Attaches child to parent.
void Attach(COutputBlock* parent, COutputBlock* child);

// Line-end styles of a fixture: every "\n" as is, or as CR LF.
enum class Ends
{
    LF,
    CRLF
};
std::string WithEnds(const std::string& text, Ends ends);
const char* EndsName(Ends ends);

struct DecodeRun
{
    _CME_RC rc = CME_SUCCESS;
    std::string line;     // the line buffer after the call
    std::string next;     // the bytes of the source from its position on
    std::string output;   // the data file's bytes, empty when there is none
    std::string dataFile; // the block's data file name
};

// A member such as &CUnpacker::DecodeBase64, or any callable of that shape.
using Decoder = std::function<_CME_RC(CUnpacker&, COutputBlock*, char**, CStdioFile*)>;

// Writes message into a file outside workDir, opens it as the parser does (text mode),
// skips skipLines lines (a header) and calls decoder for block with the unpacker's work
// directory set to workDir.
DecodeRun RunDecoder(const Decoder& decoder, COutputBlock* block, const std::string& message,
                     const std::string& workDir, int skipLines = 0);

} // namespace decodetest
