// The framework stand-ins in one include.
#pragma once

#include "mimeengine/platform/cfile.h"
#include "mimeengine/platform/cobject.h"
#include "mimeengine/platform/collections.h"
#include "mimeengine/platform/cstring.h"
#include "mimeengine/platform/ctime.h"
#include "mimeengine/platform/types.h"
