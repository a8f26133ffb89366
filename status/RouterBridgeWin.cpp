// The relay bridge over mRouter's own COM objects, both activated out of
// process. The program knows only where the one method it calls sits in each
// object's table of methods.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it builds on.
#include <objbase.h>

#include <cstddef>

#include "status/RouterBridge.h"

#ifdef _MSC_VER
#pragma comment(lib, "ole32")
#endif

namespace velarix {
namespace {

// mRouter's port object.
constexpr CLSID kPortClass = {
    0xB823FFF4, 0x0FD9, 0x449D, {0xBF, 0x75, 0x21, 0xF5, 0xAD, 0x91, 0xC9, 0x7D}};
constexpr IID kPortInterface = {
    0xC98CA569, 0xB190, 0x441B, {0x80, 0xC3, 0x70, 0x38, 0xC7, 0x59, 0xBA, 0x48}};
// mRouter's connection box.
constexpr CLSID kBoxClass = {
    0xEC100180, 0x05A0, 0x11D2, {0xA9, 0x53, 0x00, 0x10, 0x5A, 0x46, 0xD6, 0xE4}};
constexpr IID kBoxInterface = {
    0xEC000180, 0x05A0, 0x11D2, {0xA9, 0x53, 0x00, 0x10, 0x5A, 0x46, 0xD6, 0xE4}};

// The arguments mRouter expects with the port query.
constexpr LONG kPortQueryFirst = 0;
constexpr LONG kPortQuerySecond = 1672;

// Positions in the objects' tables of methods; IUnknown fills 0 to 2.
constexpr std::size_t kPortQuerySlot = 8;
constexpr std::size_t kBoxSlot = 7;

using PortQueryMethod = HRESULT(STDMETHODCALLTYPE*)(IUnknown* self, LONG first, LONG second,
                                                    unsigned short* port);
using BoxMethod = HRESULT(STDMETHODCALLTYPE*)(IUnknown* self);

// The method at `slot` of a COM object's table. The methods are taken from
// the table rather than declared as virtual functions of an interface class:
// no class here implements such an interface, so an optimising compiler may
// treat a virtual call through it as a call of a pure virtual function.
template <typename Method>
Method MethodAt(IUnknown* object, std::size_t slot) {
    using AnyMethod = void (*)();
    AnyMethod* table = *reinterpret_cast<AnyMethod**>(object);
    return reinterpret_cast<Method>(table[slot]);
}

// One interface reference, released when it goes out of scope.
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (p_) p_->Release();
    }

    // Creates the object out of process; false when that fails or yields no
    // interface.
    bool Create(const CLSID& clsid, const IID& iid) {
        void* object = nullptr;
        const HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, iid, &object);
        if (FAILED(hr) || object == nullptr) return false;
        p_ = static_cast<IUnknown*>(object);
        return true;
    }
    IUnknown* Get() const { return p_; }

private:
    IUnknown* p_ = nullptr;
};

}  // namespace

RouterPortQuery QueryRouterPort() {
    RouterPortQuery result;
    ComRef router;
    if (!router.Create(kPortClass, kPortInterface)) return result;
    // The result code says nothing the port does not: whatever mRouter wrote
    // is the port, and a failing call leaves it 0.
    unsigned short port = 0;
    MethodAt<PortQueryMethod>(router.Get(), kPortQuerySlot)(router.Get(), kPortQueryFirst,
                                                            kPortQuerySecond, &port);
    result.ok = true;
    result.port = static_cast<std::uint16_t>(port);
    return result;
}

bool OpenRouterBox() {
    ComRef box;
    if (!box.Create(kBoxClass, kBoxInterface)) return false;
    MethodAt<BoxMethod>(box.Get(), kBoxSlot)(box.Get());
    return true;
}

ComInit::ComInit() {
    // S_FALSE (already initialised on this thread) counts too and must be
    // balanced like S_OK.
    ok_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

ComInit::~ComInit() {
    if (ok_) ::CoUninitialize();
}

}  // namespace velarix
