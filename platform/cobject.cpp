#include "mimeengine/platform/cobject.h"

CObject::~CObject() = default;
