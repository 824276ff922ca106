// Which parts of an unpacked tree the flat decoding functions hand out: the message text and
// the attachments. These use nothing but the exported block classes, so that the mimeengine
// program, a client of the shared library, compiles this same selection into itself.
#pragma once

#include "mimeengine/model/block.h"

#include <string>
#include <vector>

// The part whose decoded file is the message text, or null: the first TEXT child of a
// multipart/alternative that is the root's first child; else that first child, or the
// root itself, when it is TEXT and not an attachment.
COutputBlock* SelectTextPart(COutputBlock* root);

// Data files of the attachments, depth-first, each block before its children. Parts marked
// inline count as attachments too when inlineToo is set. A multipart marked as attachment
// has no data file and is not listed: an empty path would name no file, and a list of only
// such paths would leave the work directory without a path that leads back to it.
std::vector<std::string> CollectAttachments(COutputBlock* root, bool inlineToo);
