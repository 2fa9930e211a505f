#pragma once

// COM for the few things that need it (the task scheduler, shortcuts):
// ole32 is loaded from the system folder when first needed, and kept; the
// program's start does not pay for it.

#include <objbase.h>

// COM on this thread for as long as it lives.
class TApartment {
public:
    TApartment();
    ~TApartment();
    TApartment(const TApartment&) = delete;
    TApartment& operator=(const TApartment&) = delete;

    bool Ready() const { return ready_; }
    // CoCreateInstance of an in-process server; E_FAIL where COM is not ready.
    HRESULT Create(const CLSID& server, const IID& face, void** object) const;

private:
    bool initialized_ = false;
    bool ready_ = false;
};
