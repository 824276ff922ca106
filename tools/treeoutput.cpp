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

#define RESULT_ROW(name, value, text) {name, #name, text},
const ResultInfo kResults[] = {MIMEENGINE_RESULT_CODES(RESULT_ROW)};
#undef RESULT_ROW

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
