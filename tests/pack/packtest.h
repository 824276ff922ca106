// Helpers of the composition tests: fixed boundaries, an injected MIME database, tree
// ownership and running a writer into a file.
#pragma once

#include "mimeengine/mimeengine.h"
#include "mimeengine/pack/packer.h"
#include "mimeengine/platform/ctime.h"
#include "platform/crt.h"
#include "platform/win32.h"
#include "support/testsupport.h"

#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace packtest
{

// Fixes the calendar time and the random draws that boundaries are made of; draws past the
// end of the list repeat its last value. Restores clock and generator when it goes away.
class FixedBoundaries
{
public:
    FixedBoundaries(time_t now, std::vector<int> draws);
    ~FixedBoundaries();
    FixedBoundaries(const FixedBoundaries&) = delete;
    FixedBoundaries& operator=(const FixedBoundaries&) = delete;

    // The boundary that the n-th draw (from 0) gives.
    std::string Boundary(size_t n) const;
    size_t DrawsTaken() const;

private:
    time_t m_now;
};

// Replaces the MIME database for one test (null: none) and forgets it afterwards.
class MimeDatabase
{
public:
    explicit MimeDatabase(const char* mimeTypesText) { RegistrySetMimeTypesForTesting(mimeTypesText); }
    ~MimeDatabase() { RegistryResetForTesting(); }
    MimeDatabase(const MimeDatabase&) = delete;
    MimeDatabase& operator=(const MimeDatabase&) = delete;
};

// Deletes a tree (root and all descendants) when it goes away.
class Tree
{
public:
    explicit Tree(CBlock* root = nullptr) : m_root(root) {}
    ~Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;
    CBlock* release()
    {
        CBlock* r = m_root;
        m_root = nullptr;
        return r;
    }

private:
    CBlock* m_root;
};

// Attaches a child and returns it.
CInputBlock* Add(CInputBlock* parent, CInputBlock* child);

// Opens path for writing, runs write on the open file, closes it and returns the file's bytes.
std::string WriteToFile(const std::string& path, const std::function<void(CFile&)>& write);

// Writes data to path and returns path.
std::string MakeFile(const std::string& path, const std::string& data);

// The three preamble lines, each ended by CR LF.
extern const char kPreamble[];

} // namespace packtest
