// CObject: the common base of blocks, lists and files.
#pragma once

#include "mimeengine/export.h"

class MIMEENGINE_API CObject
{
public:
    CObject() = default;
    virtual ~CObject();

    // Diagnostic hooks of the framework; they do nothing here.
    virtual void AssertValid() const {}
    virtual void Dump() const {}

    // Objects are not copyable through the base, as in the framework.
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
};
