// Text and JSON views of a parsed part tree.
#include "treeoutput.h"

#include <string>

namespace cli
{
namespace
{

struct ResultInfo
{
    unsigned int code;
    const char* name;
    const char* description;
};

const ResultInfo kResults[] = {
    {CME_SUCCESS, "CME_SUCCESS", "success"},
    {CME_FAILURE, "CME_FAILURE", "the operation failed"},
    {CME_NO_MEMORY, "CME_NO_MEMORY", "out of memory"},
    {CME_FILE_ERROR, "CME_FILE_ERROR", "the file cannot be opened"},
    {CME_INVALID_PARAMETER, "CME_INVALID_PARAMETER", "an argument is not valid"},
    {CME_INVALID_BLOCK, "CME_INVALID_BLOCK", "a part is not valid"},
    {CME_OUTPUT_FILE_ERROR, "CME_OUTPUT_FILE_ERROR", "an output file cannot be created"},
    {CME_HEADER_FILE_ERROR, "CME_HEADER_FILE_ERROR", "a header file cannot be read or created"},
    {CME_DATA_FILE_ERROR, "CME_DATA_FILE_ERROR", "a data file cannot be read"},
    {CME_INVALID_HEADER, "CME_INVALID_HEADER", "the header is not a valid MIME header"},
    {CME_INVALID_ENCODING, "CME_INVALID_ENCODING", "a transfer encoding is not valid"},
    {CME_MISSING_PARAMETER, "CME_MISSING_PARAMETER", "a required parameter is missing"},
    {CME_INVALID_CHARSET, "CME_INVALID_CHARSET", "a charset is not valid"},
    {CME_NOT_LEAF, "CME_NOT_LEAF", "a part that must be a leaf has children"},
    {CME_UU_BAD_MODE, "CME_UU_BAD_MODE", "a uuencoded file has a bad mode"},
    {CME_UU_BAD_DATA, "CME_UU_BAD_DATA", "a uuencoded file has bad data"},
    {CME_UU_BAD_BEGIN, "CME_UU_BAD_BEGIN", "a uuencoded file has a bad begin line"},
    {CME_UU_EMPTY_LINE, "CME_UU_EMPTY_LINE", "a uuencoded file has an empty line"},
    {CME_UU_CHECKSUM, "CME_UU_CHECKSUM", "a uuencoded file has a checksum error"},
    {CME_UU_NO_BEGIN, "CME_UU_NO_BEGIN", "no uuencoded file was found"},
};

const ResultInfo* FindResult(unsigned int rc)
{
    for (const ResultInfo& info : kResults)
        if (info.code == rc)
            return &info;
    return nullptr;
}

// The name as a JSON string, or null for a value beyond its table.
nlohmann::json NameOrNull(const char* name)
{
    return name != nullptr ? nlohmann::json(name) : nlohmann::json(nullptr);
}

void AppendBlock(std::string& out, COutputBlock* block, int depth)
{
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    const char* type = ContentTypeName(block->GetContentType());
    const char* encoding = EncodeTypeName(block->GetEncodeType());
    out += indent + (type != nullptr ? type : "?") + "/" + block->GetSubTypeString();
    if (!block->IsCompositePart())
        out += std::string("  ") + (encoding != nullptr ? encoding : "UU-SCAN");
    if (block->GetDisposition() == CMIMEPart::DISPOSE_ATTACHMENT)
        out += "  attachment";
    else if (block->GetDisposition() == CMIMEPart::DISPOSE_INLINE)
        out += "  inline";
    if (block->GetCharSetName()[0] != '\0')
        out += std::string("  charset=") + block->GetCharSetName();
    if (block->GetSuggestName()[0] != '\0')
        out += std::string("  name=\"") + block->GetSuggestName() + "\"";
    if (block->GetPartialTotal() != 0 || block->GetPartialPart() != 0)
        out += "  part " + std::to_string(block->GetPartialPart()) + " of " + std::to_string(block->GetPartialTotal());
    out += "  (uid " + std::to_string(block->GetUID()) + ")\n";
    if (block->GetDataFile()[0] != '\0')
        out += indent + "  data:   " + block->GetDataFile() + "\n";
    if (block->GetHeaderFile()[0] != '\0')
        out += indent + "  header: " + block->GetHeaderFile() + "\n";

    if (CObList* children = block->GetChildBlockList())
        for (POSITION pos = children->GetHeadPosition(); pos != nullptr;)
            AppendBlock(out, static_cast<COutputBlock*>(children->GetNext(pos)), depth + 1);
}

} // namespace

const char* ResultName(unsigned int rc)
{
    const ResultInfo* info = FindResult(rc);
    return info != nullptr ? info->name : "CME_UNKNOWN";
}

const char* ResultDescription(unsigned int rc)
{
    const ResultInfo* info = FindResult(rc);
    return info != nullptr ? info->description : "unknown error";
}

const char* ContentTypeName(unsigned int type)
{
    return type <= CMIMEPart::CONTENT_APPLICATION ? szContType[type] : nullptr;
}

const char* EncodeTypeName(unsigned int encoding)
{
    return encoding <= CMIMEPart::ENCODE_UUENCODE ? szEncodeType[encoding] : nullptr;
}

nlohmann::json BlockToJson(COutputBlock* block)
{
    nlohmann::json children = nlohmann::json::array();
    if (CObList* list = block->GetChildBlockList())
        for (POSITION pos = list->GetHeadPosition(); pos != nullptr;)
            children.push_back(BlockToJson(static_cast<COutputBlock*>(list->GetNext(pos))));

    return nlohmann::json{
        {"content_type", static_cast<unsigned int>(block->GetContentType())},
        {"content_type_name", NameOrNull(ContentTypeName(block->GetContentType()))},
        {"subtype", block->GetSubTypeString()},
        {"encode_type", static_cast<unsigned int>(block->GetEncodeType())},
        {"encode_type_name", NameOrNull(EncodeTypeName(block->GetEncodeType()))},
        {"disposition", static_cast<unsigned int>(block->GetDisposition())},
        {"char_type", static_cast<unsigned int>(block->GetCharType())},
        {"charset", block->GetCharSetName()},
        {"suggest_name", block->GetSuggestName()},
        {"data_file", block->GetDataFile()},
        {"header_file", block->GetHeaderFile()},
        {"parameters", block->GetParameters()},
        {"boundary", block->GetBoundary()},
        {"content_id", block->GetContentId()},
        {"content_desc", block->GetContentDesc()},
        {"partial_part", block->GetPartialPart()},
        {"partial_total", block->GetPartialTotal()},
        {"uid", block->GetUID()},
        {"children", children},
    };
}

nlohmann::json UnpackResultToJson(unsigned int rc, COutputBlock* root)
{
    return nlohmann::json{
        {"result", rc},
        {"result_name", ResultName(rc)},
        {"root", root != nullptr ? BlockToJson(root) : nlohmann::json(nullptr)},
    };
}

std::string DumpJson(const nlohmann::json& value)
{
    // Texts come from messages in any 8-bit charset; the replacement keeps the output JSON.
    return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string FormatTree(COutputBlock* root)
{
    if (root == nullptr)
        return "(no parts)\n";
    std::string out;
    AppendBlock(out, root, 0);
    return out;
}

} // namespace cli
