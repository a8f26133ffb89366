// velarix-test-relay: an out-of-process COM server that stands in for the
// phone suite's relay software in the Windows tests. It serves the two
// objects the program creates: the port object answers the port query with
// the port of whatever loopback phone a test has set up, and the connection
// box counts how often it was opened. Both go through the universal
// marshaler, driven by the type library that is linked into this program.
//
//   velarix-test-relay /regserver     registers both classes and the type library
//   velarix-test-relay /unregserver   removes them again
//   velarix-test-relay /port N        sets the port the port object answers with
//   velarix-test-relay -Embedding     what COM runs to serve the objects
//
// COM starts the server by itself, so a test hands it the port through the
// registry: the REG_DWORD "Port" under HKCU\Software\Velarix\TestRelay, read
// at every query. The box adds one to the REG_DWORD "BoxOpened" there. The
// server ends when its last object is released, after a minute without any,
// and after five minutes in any case.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they build on.
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr CLSID kPortClass = {
    0xB823FFF4, 0x0FD9, 0x449D, {0xBF, 0x75, 0x21, 0xF5, 0xAD, 0x91, 0xC9, 0x7D}};
constexpr IID kPortInterface = {
    0xC98CA569, 0xB190, 0x441B, {0x80, 0xC3, 0x70, 0x38, 0xC7, 0x59, 0xBA, 0x48}};
constexpr CLSID kBoxClass = {
    0xEC100180, 0x05A0, 0x11D2, {0xA9, 0x53, 0x00, 0x10, 0x5A, 0x46, 0xD6, 0xE4}};
constexpr IID kBoxInterface = {
    0xEC000180, 0x05A0, 0x11D2, {0xA9, 0x53, 0x00, 0x10, 0x5A, 0x46, 0xD6, 0xE4}};
// The type library's id and version, as in TestRelay.idl.
constexpr GUID kTypeLibrary = {
    0x5D1C2E7A, 0x3B94, 0x4F08, {0x9A, 0x61, 0x7C, 0x2F, 0x0E, 0x4B, 0x8D, 0x13}};
constexpr WORD kTypeLibraryMajor = 1;
constexpr WORD kTypeLibraryMinor = 0;

// The arguments the program passes with the port query.
constexpr LONG kPortQueryFirst = 0;
constexpr LONG kPortQuerySecond = 1672;

constexpr const wchar_t* kStateKey = L"Software\\Velarix\\TestRelay";
constexpr const wchar_t* kPortValue = L"Port";
constexpr const wchar_t* kBoxValue = L"BoxOpened";

constexpr DWORD kIdleMilliseconds = 60'000;
constexpr DWORD kLifetimeMilliseconds = 300'000;

// The interfaces as the type library lays them out: the placeholders keep
// the port query at table slot 8 and the box method at slot 7.
struct IRelayPort : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved7() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRelayPort(LONG first, LONG second,
                                                   unsigned short* port) = 0;
};

struct IRelayBox : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenBox() = 0;
};

// ---- Server lifetime -------------------------------------------------------

HANDLE g_done = nullptr;
std::atomic<long> g_objects{0};
DWORD g_portCookie = 0;
DWORD g_boxCookie = 0;

void RevokeClasses() {
    if (g_portCookie != 0) ::CoRevokeClassObject(g_portCookie);
    if (g_boxCookie != 0) ::CoRevokeClassObject(g_boxCookie);
    g_portCookie = 0;
    g_boxCookie = 0;
}

void ObjectCreated() {
    ++g_objects;
}

// The last object gone ends the server. The classes are withdrawn before the
// client's release returns, so the next activation starts a new server rather
// than reaching this one as it exits.
void ObjectReleased() {
    if (--g_objects == 0) {
        RevokeClasses();
        ::SetEvent(g_done);
    }
}

// ---- State shared with the tests --------------------------------------------

DWORD ReadState(const wchar_t* name, DWORD fallback) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, kStateKey, name, RRF_RT_REG_DWORD, nullptr, &value,
                       &size) != ERROR_SUCCESS) {
        return fallback;
    }
    return value;
}

void WriteState(const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kStateKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    ::RegCloseKey(key);
}

// ---- The objects -------------------------------------------------------------

template <typename Interface>
class Object : public Interface {
public:
    explicit Object(const IID& iid) : iid_(iid) { ObjectCreated(); }
    virtual ~Object() { ObjectReleased(); }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid_)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved6() override { return E_NOTIMPL; }

private:
    const IID& iid_;
    std::atomic<long> refs_{1};
};

class RelayPort final : public Object<IRelayPort> {
public:
    RelayPort() : Object(kPortInterface) {}

    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    // Arguments other than the program's leave the port unwritten, so a
    // caller that passes the wrong ones sees no port.
    HRESULT STDMETHODCALLTYPE GetRelayPort(LONG first, LONG second, unsigned short* port) override {
        if (port == nullptr) return E_POINTER;
        if (first != kPortQueryFirst || second != kPortQuerySecond) return E_INVALIDARG;
        const DWORD value = ReadState(kPortValue, 0);
        *port = value <= 0xFFFF ? static_cast<unsigned short>(value) : 0;
        return S_OK;
    }
};

class RelayBox final : public Object<IRelayBox> {
public:
    RelayBox() : Object(kBoxInterface) {}

    HRESULT STDMETHODCALLTYPE OpenBox() override {
        WriteState(kBoxValue, ReadState(kBoxValue, 0) + 1);
        return S_OK;
    }
};

template <typename Made>
class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factories live as long as the process.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        Made* made = new Made();
        const HRESULT hr = made->QueryInterface(riid, out);
        made->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory<RelayPort> g_portFactory;
Factory<RelayBox> g_boxFactory;

int Serve() {
    g_done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_done == nullptr) return 1;
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    HRESULT hr = ::CoRegisterClassObject(kPortClass, &g_portFactory, CLSCTX_LOCAL_SERVER,
                                         REGCLS_MULTIPLEUSE, &g_portCookie);
    if (SUCCEEDED(hr)) {
        hr = ::CoRegisterClassObject(kBoxClass, &g_boxFactory, CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE, &g_boxCookie);
    }
    if (SUCCEEDED(hr)) {
        // Objects end the wait; an activation that never comes ends it too.
        // A client that dies holding an object never releases it, and this
        // process would keep the test's output open; so it ends regardless.
        if (::WaitForSingleObject(g_done, kIdleMilliseconds) == WAIT_TIMEOUT &&
            g_objects.load() > 0) {
            ::WaitForSingleObject(g_done, kLifetimeMilliseconds - kIdleMilliseconds);
        }
    }
    RevokeClasses();
    ::CoUninitialize();
    ::CloseHandle(g_done);
    return SUCCEEDED(hr) ? 0 : 1;
}

// ---- Registration --------------------------------------------------------------

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (got == 0) return {};
        if (got < path.size()) {
            path.resize(got);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring ClassKey(const CLSID& clsid) {
    wchar_t text[64] = {};
    ::StringFromGUID2(clsid, text, 64);
    return std::wstring(L"CLSID\\") + text;
}

bool SetDefaultValue(const std::wstring& keyPath, const std::wstring& value) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LSTATUS status =
        ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool RegisterClass(const CLSID& clsid, const wchar_t* name, const std::wstring& server) {
    const std::wstring key = ClassKey(clsid);
    return SetDefaultValue(key, name) &&
           SetDefaultValue(key + L"\\LocalServer32", L"\"" + server + L"\"");
}

int Register() {
    const std::wstring server = ModulePath();
    if (server.empty()) return 1;
    if (!RegisterClass(kPortClass, L"Velarix test relay: port", server) ||
        !RegisterClass(kBoxClass, L"Velarix test relay: box", server)) {
        std::fwprintf(stderr, L"velarix-test-relay: cannot register the classes\n");
        return 1;
    }
    // The type library is a resource of this program; registering it also
    // registers the two interfaces for the universal marshaler.
    ITypeLib* library = nullptr;
    const HRESULT hr = ::LoadTypeLibEx(server.c_str(), REGKIND_REGISTER, &library);
    if (FAILED(hr)) {
        std::fwprintf(stderr, L"velarix-test-relay: cannot register the type library (0x%08lx)\n",
                      static_cast<unsigned long>(hr));
        return 1;
    }
    library->Release();
    return 0;
}

int Unregister() {
    int result = 0;
    for (const CLSID* clsid : {&kPortClass, &kBoxClass}) {
        const LSTATUS status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey(*clsid).c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = 1;
    }
    constexpr SYSKIND kSystem = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    const HRESULT hr =
        ::UnRegisterTypeLib(kTypeLibrary, kTypeLibraryMajor, kTypeLibraryMinor, 0, kSystem);
    if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_LIBNOTREGISTERED) result = 1;
    return result;
}

bool IsSwitch(const wchar_t* arg, const wchar_t* name) {
    return (arg[0] == L'/' || arg[0] == L'-') && ::_wcsicmp(arg + 1, name) == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && IsSwitch(argv[1], L"regserver")) return Register();
    if (argc >= 2 && IsSwitch(argv[1], L"unregserver")) return Unregister();
    if (argc >= 2 && IsSwitch(argv[1], L"Embedding")) return Serve();
    if (argc == 3 && IsSwitch(argv[1], L"port")) {
        wchar_t* end = nullptr;
        const unsigned long port = std::wcstoul(argv[2], &end, 10);
        if (end == argv[2] || *end != L'\0' || port > 0xFFFF) return 2;
        WriteState(kPortValue, static_cast<DWORD>(port));
        return ReadState(kPortValue, port + 1) == port ? 0 : 1;
    }
    std::fwprintf(stderr,
                  L"usage: velarix-test-relay /regserver | /unregserver | /port N | -Embedding\n");
    return 2;
}
