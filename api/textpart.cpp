// The message text and the attachments of an unpacked tree.
#include "textpart.h"

#include <cstring>

COutputBlock* SelectTextPart(COutputBlock* root)
{
    auto isBodyText = [](const COutputBlock* block) {
        return block->GetContentType() == CMIMEPart::CONTENT_TEXT &&
               block->GetDisposition() != CMIMEPart::DISPOSE_ATTACHMENT;
    };
    if (root->GetContentType() == CMIMEPart::CONTENT_MULTIPART)
    {
        CObList* children = root->GetChildBlockList();
        if (children == nullptr || children->IsEmpty())
            return nullptr;
        auto* first = static_cast<COutputBlock*>(children->GetHead());
        // The subtype is compared with case on purpose: "Alternative" selects nothing.
        if (first->GetContentType() == CMIMEPart::CONTENT_MULTIPART &&
            std::strcmp(first->GetSubTypeString(), "alternative") == 0)
        {
            CObList* alternatives = first->GetChildBlockList();
            if (alternatives == nullptr)
                return nullptr;
            for (POSITION pos = alternatives->GetHeadPosition(); pos != nullptr;)
            {
                auto* candidate = static_cast<COutputBlock*>(alternatives->GetNext(pos));
                if (candidate->GetContentType() == CMIMEPart::CONTENT_TEXT)
                    return candidate;
            }
            return nullptr;
        }
        return isBodyText(first) ? first : nullptr;
    }
    return isBodyText(root) ? root : nullptr;
}

std::vector<std::string> CollectAttachments(COutputBlock* root, bool inlineToo)
{
    std::vector<std::string> paths;
    std::vector<COutputBlock*> pending{root};
    while (!pending.empty())
    {
        COutputBlock* block = pending.back();
        pending.pop_back();
        CMIMEPart::_DISPOSE_TYPE disposition = block->GetDisposition();
        const char* dataFile = block->GetDataFile();
        if ((disposition == CMIMEPart::DISPOSE_ATTACHMENT || (inlineToo && disposition == CMIMEPart::DISPOSE_INLINE)) &&
            dataFile != nullptr && dataFile[0] != '\0')
            paths.emplace_back(dataFile);
        if (CObList* children = block->GetChildBlockList())
            for (POSITION pos = children->GetTailPosition(); pos != nullptr;)
                pending.push_back(static_cast<COutputBlock*>(children->GetPrev(pos)));
    }
    return paths;
}
