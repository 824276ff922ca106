// A program outside the project: builds a block tree through the installed headers,
// walks it, prints it and frees it. Exits non-zero when the tree is not as built.
#include <cstdio>
#include <mimeengine/mimeengine.h>
#include <string>

static int Walk(const CBlock* block, int depth)
{
    std::string subtype = block->GetSubTypeString();
    std::printf("%*s%s/%s\n", depth * 2, "", szContType[block->GetContentType()], subtype.c_str());
    int count = 1;
    CObList* children = block->GetChildBlockList();
    if (children == nullptr)
        return count;
    for (POSITION pos = children->GetHeadPosition(); pos != nullptr;)
    {
        const CBlock* child = static_cast<const CBlock*>(children->GetNext(pos));
        if (child->GetParentBlock() != block)
            return -1000;
        count += Walk(child, depth + 1);
    }
    return count;
}

int main()
{
    CString message;
    CInputBlock* root = new CInputBlock(CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_7BIT, "mixed");
    CInputBlock* text = new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", "body.txt");
    CInputBlock* inner = new CInputBlock(CMIMEPart::CONTENT_MESSAGE, CMIMEPart::ENCODE_7BIT, "rfc822");
    if (root->AddChildBlock(text, message) != CME_SUCCESS || root->AddChildBlock(inner, message) != CME_SUCCESS ||
        !root->InsertAfter(new CInputBlock(CMIMEPart::CONTENT_IMAGE, CMIMEPart::ENCODE_BASE64, "gif"), text) ||
        inner->AddChildBlock(new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain"), message) !=
            CME_SUCCESS)
        return 2;
    if (root->AddChildBlock(nullptr, message) != CME_INVALID_PARAMETER)
        return 3;

    int parts = Walk(root, 0);
    std::printf("parts: %d\n", parts);

    CMIMEEngine engine;
    if (engine.GetLastError() != CME_SUCCESS)
        return 4;

    root->DeleteChildBlocks();
    delete root;
    return parts == 5 ? 0 : 1;
}
