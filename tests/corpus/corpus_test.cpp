// Real messages from independent projects, each with a reference reading made by another
// MIME parser. Every message must parse without crash in both depths; where the message is
// MIME, the tree's types and subtypes must match the reference and every base64 leaf must
// decode to exactly the reference bytes. Deliberate differences are listed, one by one, in
// tests/data/corpus/expectations.tsv (file, what differs, why).
#include "mimeengine/engine/engine.h"
#include "support/minijson.h"
#include "support/sha256.h"
#include "support/testsupport.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace
{

namespace fs = std::filesystem;
using testsupport::Json;

std::string CorpusDir()
{
    if (const char* env = std::getenv("MIMEENGINE_SHARED_DIR"))
        if (fs::is_directory(std::string(env) + "/corpus"))
            return std::string(env) + "/corpus";
    fs::path beside = fs::path(MIMEENGINE_SOURCE_DIR) / ".." / "shared" / "corpus";
    return fs::is_directory(beside) ? beside.string() : std::string();
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<COutputBlock*> Children(const CBlock* block)
{
    std::vector<COutputBlock*> out;
    if (CObList* list = block->GetChildBlockList())
        for (POSITION pos = list->GetHeadPosition(); pos != nullptr;)
            out.push_back(static_cast<COutputBlock*>(list->GetNext(pos)));
    return out;
}

// Our content type number for a main type name (0 when we have no such type).
unsigned int TypeNumber(const std::string& main)
{
    static const char* const names[] = {"unknown", "text",  "message", "multipart",
                                        "image",   "audio", "video",   "application"};
    for (unsigned int i = 1; i < 8; ++i)
        if (main == names[i])
            return i;
    return 0;
}

// One difference: its key ("kind path", as listed in the expectations) and what was seen.
struct Diff
{
    std::string key;
    std::string detail;
};

// Header text on one line, for messages.
std::string OneLine(std::string s)
{
    for (char& c : s)
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
    return s;
}

std::string Describe(const COutputBlock* ours, const Json& ref)
{
    static const char* const names[] = {"UNKNOWN", "TEXT",  "MESSAGE", "MULTIPART",
                                        "IMAGE",   "AUDIO", "VIDEO",   "APPLICATION"};
    const unsigned int t = ours->GetContentType();
    return std::string("ours ") + (t < 8 ? names[t] : "?") + "/" + ours->GetSubTypeString() + " enc " +
           std::to_string(ours->GetEncodeType()) + " children " + std::to_string(Children(ours).size()) +
           "; reference " + ref["content_type"].Str() + " header '" + OneLine(ref["content_type_header"].Str()) +
           "' cte '" + OneLine(ref["cte_header"].Str()) + "' charset '" + ref["charset"].Str() + "' children " +
           std::to_string(ref["children"].items.size());
}

// Compares one node of our tree with the reference node; differences are added to diffs.
void CompareNode(const COutputBlock* ours, const Json& ref, std::vector<Diff>& diffs)
{
    const std::string path = ref["path"].Str();
    const std::string type = Lower(ref["content_type"].Str());
    const size_t slash = type.find('/');
    const std::string main = type.substr(0, slash);
    const std::string sub = slash == std::string::npos ? "" : type.substr(slash + 1);
    const bool defaulted = ref["content_type_defaulted"].kind == Json::Bool && ref["content_type_defaulted"].boolean;

    const unsigned int ourType = ours->GetContentType();
    const std::string ourSub = Lower(ours->GetSubTypeString());
    bool typeMatches = ourType == TypeNumber(main) && ourSub == sub;
    // A part without Content-Type is text/plain for the reference (message/rfc822 in a
    // digest); we keep it untyped.
    if (!typeMatches && defaulted && ourType == CMIMEPart::CONTENT_UNKNOWN && ourSub.empty())
        typeMatches = true;
    if (!typeMatches)
    {
        diffs.push_back({"type " + path, Describe(ours, ref)});
        return;
    }

    const auto children = Children(ours);
    const auto& refChildren = ref["children"].items;
    if (children.size() != refChildren.size())
    {
        diffs.push_back({"children " + path, Describe(ours, ref)});
        return;
    }
    for (size_t i = 0; i < children.size(); ++i)
        CompareNode(children[i], refChildren[i], diffs);

    const Json& body = ref["body"];
    if (ref["kind"].Str() == "leaf" && body["compare"].Str() == "exact" && Lower(ref["cte"].Str()) == "base64")
    {
        const std::string file = ours->GetDataFile();
        std::string digest = file.empty() || !fs::is_regular_file(file)
                                 ? std::string("none")
                                 : testsupport::Sha256Hex(testsupport::ReadFile(file));
        if (digest != body["sha256"].Str())
            diffs.push_back({"base64 " + path, Describe(ours, ref) + " length " +
                                                   std::to_string(fs::is_regular_file(file) ? fs::file_size(file) : 0) +
                                                   " reference length " +
                                                   std::to_string(static_cast<long>(body["length"].number))});
    }
}

// A message without MIME header: the files of the uuencode scan, in order, up to the first
// block that the reference finds malformed or unfinished, must decode to the reference bytes.
void CompareUUScan(const COutputBlock* root, const Json& blocks, std::vector<Diff>& diffs)
{
    if (root == nullptr || root->GetEncodeType() != CMIMEPart::UU_MARKER_ENCODING)
    {
        diffs.push_back({"uuencode tree", "no tree from the uuencode scan"});
        return;
    }
    const auto children = Children(root);
    for (size_t i = 0; i < blocks.items.size(); ++i)
    {
        const Json& block = blocks.items[i];
        if (!block["valid_begin"].boolean || !block["complete"].boolean)
            break;
        const std::string key = "uuencode " + std::to_string(i + 1);
        if (i >= children.size())
        {
            diffs.push_back({key, "missing"});
            continue;
        }
        const std::string file = children[i]->GetDataFile();
        const std::string digest =
            fs::is_regular_file(file) ? testsupport::Sha256Hex(testsupport::ReadFile(file)) : std::string("none");
        if (digest != block["sha256"].Str() || children[i]->GetSuggestName() != block["name"].Str())
            diffs.push_back({key, std::string("ours ") + children[i]->GetSuggestName() + " " + digest});
    }
}

// expectations.tsv: file TAB difference TAB reason; '#' starts a comment line.
std::map<std::string, std::string> LoadExpectations()
{
    std::map<std::string, std::string> out;
    std::ifstream in(std::string(MIMEENGINE_TEST_DATA_DIR) + "/corpus/expectations.tsv");
    std::string line;
    while (std::getline(in, line))
    {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string file, what, why;
        std::getline(fields, file, '\t');
        std::getline(fields, what, '\t');
        std::getline(fields, why);
        EXPECT_FALSE(why.empty()) << "expectation without a reason: " << line;
        out[file + "\t" + what] = why;
    }
    return out;
}

TEST(Corpus, EveryMessageParsesAndMimeTreesMatchTheReference)
{
    const std::string corpus = CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "corpus not found";

    std::vector<std::string> refs;
    for (const auto& entry : fs::recursive_directory_iterator(corpus))
    {
        const std::string p = entry.path().string();
        if (p.size() > 9 && p.compare(p.size() - 9, 9, ".ref.json") == 0)
            refs.push_back(p);
    }
    std::sort(refs.begin(), refs.end());
    ASSERT_GT(refs.size(), 400u);

    const auto expectations = LoadExpectations();
    std::set<std::string> seen;
    int compared = 0, matched = 0, documented = 0;

    for (const std::string& refPath : refs)
    {
        const Json ref = testsupport::ParseJson(testsupport::ReadFile(refPath));
        const std::string file = ref["file"].Str();
        const std::string message = corpus + "/" + file;
        const bool bodyOnly = ref["body_only"].kind == Json::Bool && ref["body_only"].boolean;
        const bool mime = ref["mime_version_accepted"].kind == Json::Bool && ref["mime_version_accepted"].boolean;

        std::vector<Diff> diffs;
        for (BOOL extract : {FALSE, TRUE})
        {
            testsupport::ScratchDir scratch;
            CMIMEEngine engine;
            CString source(message.c_str());
            _CME_RC rc = CME_SUCCESS;
            COutputBlock* root = nullptr;
            try
            {
                root = bodyOnly ? engine.UnpackBody(source, scratch.path().c_str(), extract, rc)
                                : engine.Unpack(source, scratch.path().c_str(), extract, rc);
            }
            catch (CFileException&)
            {
                ADD_FAILURE() << file << ": file exception";
            }
            if (extract && !mime && !ref["uuencode_scan"].items.empty())
                CompareUUScan(root, ref["uuencode_scan"], diffs);
            if (extract && mime)
            {
                if (root == nullptr)
                    diffs.push_back({"failed rc=" + std::to_string(rc), "no tree"});
                else
                    CompareNode(root, ref["tree"], diffs);
            }
            engine.FreeBlocks(root);
        }
        if (!mime && ref["uuencode_scan"].items.empty())
            continue;

        ++compared;
        bool allDocumented = true;
        for (const Diff& d : diffs)
        {
            const std::string key = file + "\t" + d.key;
            seen.insert(key);
            if (expectations.count(key) == 0)
            {
                allDocumented = false;
                ADD_FAILURE() << "undocumented difference: " << key << "\t" << d.detail;
            }
        }
        if (diffs.empty())
            ++matched;
        else if (allDocumented)
            ++documented;
    }

    for (const auto& [key, why] : expectations)
        EXPECT_TRUE(seen.count(key) != 0) << "expected difference did not occur: " << key;

    std::cout << "corpus: " << refs.size() << " messages parsed, " << compared << " compared, " << matched
              << " matched, " << documented << " with documented differences\n";
    RecordProperty("matched", matched);
    RecordProperty("documented", documented);
}

} // namespace
