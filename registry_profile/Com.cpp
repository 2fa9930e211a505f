#include "Com.h"

#include "registry_profile.h"

namespace {

struct TOle {
    decltype(&CoInitializeEx) initialize = nullptr;
    decltype(&CoUninitialize) uninitialize = nullptr;
    decltype(&CoCreateInstance) create = nullptr;

    bool Usable() const { return initialize != nullptr && uninitialize != nullptr && create != nullptr; }
};

// C++ initialises a function's static once, whichever thread comes first.
const TOle& Ole()
{
    static const TOle ole = [] {
        const HMODULE module = LoadSystemLibrary(L"ole32.dll");
        TOle loaded;
        loaded.initialize = ProcAddress<decltype(&CoInitializeEx)>(module, "CoInitializeEx");
        loaded.uninitialize = ProcAddress<decltype(&CoUninitialize)>(module, "CoUninitialize");
        loaded.create = ProcAddress<decltype(&CoCreateInstance)>(module, "CoCreateInstance");
        return loaded;
    }();
    return ole;
}

} // namespace

TApartment::TApartment()
{
    const HRESULT initialized = Ole().Usable() ? Ole().initialize(nullptr, COINIT_APARTMENTTHREADED) : E_FAIL;
    initialized_ = SUCCEEDED(initialized);
    // A thread that has COM in the other model already can use it as it is.
    ready_ = initialized_ || initialized == RPC_E_CHANGED_MODE;
}

TApartment::~TApartment()
{
    if (initialized_) {
        Ole().uninitialize();
    }
}

HRESULT TApartment::Create(const CLSID& server, const IID& face, void** object) const
{
    return ready_ ? Ole().create(server, nullptr, CLSCTX_INPROC_SERVER, face, object) : E_FAIL;
}
