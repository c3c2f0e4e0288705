// CBaseObject: the reference count every toolkit object carries. An object is
// created with one reference; remember() adds one, forget() drops one and
// deletes the object when none is left.
#pragma once

#include <cstdint>

class CBaseObject {
public:
    CBaseObject() = default;
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;

    void remember() { ++references; }
    void forget() {
        if (--references == 0) delete this;
    }
    int32_t getNbReference() const { return references; }

protected:
    virtual ~CBaseObject() = default;

private:
    int32_t references = 1;
};
