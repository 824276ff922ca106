// The mimeengine library: everything a caller reaches.
#pragma once

#include "mimeengine/codec/contenttypemap.h"
#include "mimeengine/engine/engine.h"
#include "mimeengine/engine/rc.h"
#include "mimeengine/export.h"
#include "mimeengine/extract/boundary.h"
#include "mimeengine/extract/wfxfile.h"
#include "mimeengine/mimeengine_flat.h"
#include "mimeengine/model/block.h"
#include "mimeengine/model/mimepart.h"
#include "mimeengine/platform/afx.h"
#include "mimeengine/unpack/parseutilities.h"
#include "mimeengine/version.h"
