// GoogleTest hands every failure and skip to OutputDebugStringA as well, for
// a debugger's output window, and Wine raises DBG_PRINTEXCEPTION_C for it
// and catches it in its own frames. Under qemu-i386 that kills 32-bit Wine,
// even in a fresh process and even when a vectored handler resumes the
// raise, so that the first skipped or failing test would end the run and
// hide the rest. This program's import of OutputDebugStringA is therefore
// bound to DebugOutputForADebugger, which passes the text on only to a
// debugger that is there to read it.
#include <windows.h>

namespace vesk::test {
namespace {

void WINAPI DebugOutputForADebugger(LPCSTR text) {
  if (!IsDebuggerPresent()) return;
  using Output = void(WINAPI*)(LPCSTR);
  static const auto output = reinterpret_cast<Output>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "OutputDebugStringA")));
  if (output != nullptr) output(text);
}

}  // namespace
}  // namespace vesk::test

// The import slot itself, which the linker then takes from here rather than
// from kernel32's import library.
#if defined(__x86_64__)
#define VESK_OUTPUT_DEBUG_STRING_SLOT "__imp_OutputDebugStringA"
#else
#define VESK_OUTPUT_DEBUG_STRING_SLOT "__imp__OutputDebugStringA@4"
#endif
extern "C" void(WINAPI* const vesk_output_debug_string_slot)(LPCSTR) __asm__(
    VESK_OUTPUT_DEBUG_STRING_SLOT);
void(WINAPI* const vesk_output_debug_string_slot)(LPCSTR) =
    &vesk::test::DebugOutputForADebugger;
