// The four exports of an in-process COM server, and the class factory of
// Vesk's voice objects.
#include "module.h"

#include <windows.h>

#include <atomic>
#include <new>

#include "registration.h"
#include "shared_engine.h"
#include "tts_engine.h"
#include "voice_object.h"

namespace vesk::sapi {

namespace {

HMODULE module = nullptr;
std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static: its references only keep the server loaded.
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++serverLocks); }
  ULONG STDMETHODCALLTYPE Release() override { return ULONG(--serverLocks); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                           void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) VoiceObject();
    if (object == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = object->QueryInterface(riid, out);
    object->Release();
    return result;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++serverLocks : --serverLocks;
    return S_OK;
  }
};

ClassFactory factory;

}  // namespace

std::filesystem::path ModulePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(module, buffer.data(), DWORD(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return std::filesystem::path(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

void ObjectCreated() { ++liveObjects; }
void ObjectDestroyed() { --liveObjects; }

}  // namespace vesk::sapi

using namespace vesk::sapi;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid,
                                                    void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (clsid != kEngineClassId) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, out);
}

// Once the engine is loaded this DLL stays: the engine's worker threads may
// still run the play callback it installed.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return liveObjects == 0 && serverLocks == 0 && !EngineLoaded() ? S_OK
                                                                 : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return RegisterServer(ModulePath());
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return UnregisterServer();
}
