// A SAPI DLL whose registration always fails, for the setup program's
// roll-back test (installer-test.sh): a setup program made with it as its
// x64 VeskSapi.dll must stop with exit code 2 and undo everything, the x86
// engine it registered before included.
#include <windows.h>

__declspec(dllexport) HRESULT __stdcall DllRegisterServer(void) {
  return E_FAIL;
}

// Nothing was registered.
__declspec(dllexport) HRESULT __stdcall DllUnregisterServer(void) {
  return S_OK;
}
