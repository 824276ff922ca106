// Printing a parsed part tree: an indented text view and JSON.
#pragma once

#include "mimeengine/mimeengine.h"

#include <nlohmann/json.hpp>
#include <string>

namespace cli
{

// The enumerator name of a result code ("CME_SUCCESS", ...), "CME_UNKNOWN" for others.
const char* ResultName(unsigned int rc);
// What a result code means, for error messages.
const char* ResultDescription(unsigned int rc);
// Row text of the name tables, or null beyond them.
const char* ContentTypeName(unsigned int type);
const char* EncodeTypeName(unsigned int encoding);

// One JSON object per block with its children nested.
nlohmann::json BlockToJson(COutputBlock* block);
// {"result": N, "result_name": "...", "root": BLOCK or null}
nlohmann::json UnpackResultToJson(unsigned int rc, COutputBlock* root);
// Serialises with two-space indentation; bytes that are not UTF-8 become U+FFFD.
std::string DumpJson(const nlohmann::json& value);

// Indented text view, one part per line with its file paths below it.
std::string FormatTree(COutputBlock* root);

} // namespace cli
