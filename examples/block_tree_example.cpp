// Builds a small part tree, walks it and frees it: the smallest use of the library.
#include "mimeengine/mimeengine.h"

#include <cstdio>

static void Walk(CBlock* block, int depth)
{
    std::printf("%*s%s/%s (uid %ld)\n", depth * 2, "", szContType[block->GetContentType()], block->GetSubTypeString(),
                block->GetUID());
    CObList* children = block->GetChildBlockList();
    if (children == nullptr)
        return;
    for (POSITION pos = children->GetHeadPosition(); pos != nullptr;)
        Walk(static_cast<CBlock*>(children->GetNext(pos)), depth + 1);
}

int main()
{
    CString message;
    CInputBlock* root = new CInputBlock(CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_7BIT, "mixed");
    root->AddChildBlock(new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", "body.txt"), message);
    root->AddChildBlock(new CInputBlock(CMIMEPart::CONTENT_IMAGE, CMIMEPart::ENCODE_BASE64, "gif", "pic.gif"), message);
    Walk(root, 0);

    CMIMEEngine engine;
    return engine.FreeBlocks(root) ? 0 : 1;
}
