// Calls into host code behind a structured exception frame of our own, as
// an __try/__except block would: a fault the host's code does not handle
// itself ends up in our frame, the host's frames are unwound (their __finally
// blocks and destructors run), and the call reports failure. g++ has no
// __try, so the frame is set up by a small assembly trampoline for each
// architecture. Being an ordinary frame rather than a vectored handler, it
// sees nothing the host's own handlers take care of (a managed runtime's
// null checks, for example).
#include <windows.h>

#include "platform/platform.h"

extern "C" {

// Runs fn(context) inside the guarded frame: 1 when it returned, 0 when an
// exception was caught by the frame.
int vesk_guarded_call(void (*fn)(void*), void* context);

// GCC's own C++ exceptions on x86_64 travel as these codes; they are left to
// the C++ handler below so that thrown objects are destroyed properly.
static bool IsGccException(DWORD code) {
  return (code & 0xF0FFFFFFu) == 0x20474343u;
}

#if defined(__x86_64__)

// Table-based frame: the system's __C_specific_handler asks the filter and
// unwinds to the landing label, restoring our frame's registers.
__asm__(
    "  .text\n"
    "  .p2align 4\n"
    "  .globl vesk_guarded_call\n"
    "  .def vesk_guarded_call; .scl 2; .type 32; .endef\n"
    "  .seh_proc vesk_guarded_call\n"
    "vesk_guarded_call:\n"
    "  pushq %rbp\n"
    "  .seh_pushreg %rbp\n"
    "  movq %rsp, %rbp\n"
    "  .seh_setframe %rbp, 0\n"
    "  subq $32, %rsp\n"
    "  .seh_stackalloc 32\n"
    "  .seh_endprologue\n"
    "  .seh_handler __C_specific_handler, @except\n"
    "  .seh_handlerdata\n"
    "  .long 1\n"
    "  .rva .Lvesk_try_begin, .Lvesk_try_end, vesk_guard_filter, "
    ".Lvesk_guard_landing\n"
    "  .text\n"
    "  movq %rcx, %rax\n"
    "  movq %rdx, %rcx\n"
    ".Lvesk_try_begin:\n"
    "  callq *%rax\n"
    "  nop\n"
    ".Lvesk_try_end:\n"
    "  movl $1, %eax\n"
    "  jmp .Lvesk_guard_exit\n"
    ".Lvesk_guard_landing:\n"
    "  xorl %eax, %eax\n"
    ".Lvesk_guard_exit:\n"
    "  addq $32, %rsp\n"
    "  popq %rbp\n"
    "  retq\n"
    "  .seh_endproc\n");

__attribute__((used)) LONG vesk_guard_filter(EXCEPTION_POINTERS* pointers,
                                             void* /*frame*/) {
  return IsGccException(pointers->ExceptionRecord->ExceptionCode)
             ? EXCEPTION_CONTINUE_SEARCH
             : EXCEPTION_EXECUTE_HANDLER;
}

#elif defined(__i386__)

// Stack-based frame: an EXCEPTION_REGISTRATION_RECORD {next, handler} pushed
// onto the chain at fs:0. The handler unwinds the frames above ours and
// resumes at the landing label with our frame's registers, as an __except
// block does. Call-frame information lets g++'s DWARF unwinder pass through.
__asm__(
    "  .text\n"
    "  .p2align 4\n"
    "  .globl _vesk_guarded_call\n"
    "  .def _vesk_guarded_call; .scl 2; .type 32; .endef\n"
    "_vesk_guarded_call:\n"
    "  .cfi_startproc\n"
    "  pushl %ebp\n"
    "  .cfi_def_cfa_offset 8\n"
    "  .cfi_offset %ebp, -8\n"
    "  movl %esp, %ebp\n"
    "  .cfi_def_cfa_register %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  .cfi_offset %ebx, -12\n"
    "  .cfi_offset %esi, -16\n"
    "  .cfi_offset %edi, -20\n"
    "  pushl $_vesk_guard_handler\n"
    "  pushl %fs:0\n"
    "  movl %esp, %fs:0\n"
    "  pushl 12(%ebp)\n"
    "  call *8(%ebp)\n"
    "  movl $1, %eax\n"
    ".Lvesk_guard_exit:\n"
    "  leal -20(%ebp), %esp\n"
    "  popl %fs:0\n"
    "  addl $4, %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  .cfi_def_cfa %esp, 4\n"
    "  ret\n"
    "  .cfi_endproc\n"
    // vesk_guard_land(record): back into the frame that owns record, which
    // lies 20 bytes below its saved %ebp.
    "  .p2align 4\n"
    "  .def _vesk_guard_land; .scl 3; .type 32; .endef\n"
    "_vesk_guard_land:\n"
    "  movl 4(%esp), %eax\n"
    "  leal 20(%eax), %ebp\n"
    "  movl %eax, %esp\n"
    "  xorl %eax, %eax\n"
    "  jmp .Lvesk_guard_exit\n");

[[noreturn]] void vesk_guard_land(void* record) __asm__("_vesk_guard_land");

__attribute__((used))
EXCEPTION_DISPOSITION __cdecl vesk_guard_handler(EXCEPTION_RECORD* record,
                                                 void* frame,
                                                 CONTEXT* /*context*/,
                                                 void* /*dispatcher*/) {
  if ((record->ExceptionFlags &
       (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0 ||
      IsGccException(record->ExceptionCode)) {
    return ExceptionContinueSearch;
  }
  RtlUnwind(frame, nullptr, record, nullptr);
  vesk_guard_land(frame);
}

#else
#error "guarded calls are implemented for x86 and x86_64 only"
#endif

}  // extern "C"

namespace vesk::platform {

bool CallGuarded(void (*fn)(void*), void* context) {
  if (fn == nullptr) return false;
#if defined(__i386__)
  // A C++ exception unwinds past the trampoline without unlinking its
  // exception record; the chain must not keep pointing into a dead frame.
  void* chain;
  __asm__ volatile("movl %%fs:0, %0" : "=r"(chain));
#endif
  try {
    return vesk_guarded_call(fn, context) != 0;
  } catch (...) {
#if defined(__i386__)
    __asm__ volatile("movl %0, %%fs:0" : : "r"(chain) : "memory");
#endif
    return false;
  }
}

}  // namespace vesk::platform
