#include "tests/support/plugin_loader.h"

#include <cstdio>
#include <cstdlib>

#if defined(__i386__)
// cdecl: CallCheckedRaw(fn, args, count, &delta) -> EAX of fn.
extern "C" std::int32_t CallCheckedRaw(FARPROC fn, const HostArg* args, std::int32_t count, std::int32_t* delta);
asm(R"(
  .text
  .globl _CallCheckedRaw
_CallCheckedRaw:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 12(%ebp), %esi
  movl 16(%ebp), %ecx
  movl %esp, %ebx          # ESP before the arguments: a stdcall callee returns to it
  movl %ecx, %eax
1:
  testl %eax, %eax
  jz 2f
  decl %eax
  pushl (%esi,%eax,4)
  jmp 1b
2:
  call *8(%ebp)
  movl %esp, %ecx
  subl %ebx, %ecx
  movl 20(%ebp), %edx
  movl %ecx, (%edx)
  leal -12(%ebp), %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");

CheckedResult CallChecked(FARPROC fn, const std::vector<HostArg>& args) {
  std::int32_t delta = 0x7fffffff;
  std::int32_t value = CallCheckedRaw(fn, args.data(), static_cast<std::int32_t>(args.size()), &delta);
  return {value, delta};
}
#else
// x64 has one calling convention in which the caller owns the stack, so the
// call is an ordinary one through a pointer of the right arity; the result is
// the callee's 32-bit answer in eax.
CheckedResult CallChecked(FARPROC fn, const std::vector<HostArg>& args) {
  using A = HostArg;
  void* p = reinterpret_cast<void*>(fn);
  const A* a = args.data();
  std::int32_t value = 0;
  switch (args.size()) {
    case 0: value = reinterpret_cast<std::int32_t (*)()>(p)(); break;
    case 1: value = reinterpret_cast<std::int32_t (*)(A)>(p)(a[0]); break;
    case 2: value = reinterpret_cast<std::int32_t (*)(A, A)>(p)(a[0], a[1]); break;
    case 3: value = reinterpret_cast<std::int32_t (*)(A, A, A)>(p)(a[0], a[1], a[2]); break;
    case 4: value = reinterpret_cast<std::int32_t (*)(A, A, A, A)>(p)(a[0], a[1], a[2], a[3]); break;
    default: std::fprintf(stderr, "CallChecked: %zu arguments are not supported\n", args.size()); std::abort();
  }
  return {value, 0};
}
#endif

LoadedPlugin LoadPlugin() {
  LoadedPlugin p;
  p.module = LoadLibraryA(PluginFileName);
  if (p.module == nullptr) return p;
  p.initPlugIn = GetProcAddress(p.module, "_nbInitPlugIn");
  p.registerPlugIn = GetProcAddress(p.module, "_nbRegisterPlugIn");
  p.execAction = GetProcAddress(p.module, "_nbExecAction");
  p.editAction = GetProcAddress(p.module, "_nbEditAction");
  p.message = GetProcAddress(p.module, "_nbMessage");
  return p;
}

CheckedResult RegisterChecked(const LoadedPlugin& p, RegisterActionProc registerAction, GetVariableProc get,
                              SetVariableProc set, HostArg hostContext) {
  return CallChecked(p.registerPlugIn, {AsArg(reinterpret_cast<void*>(registerAction)), hostContext,
                                        AsArg(reinterpret_cast<void*>(get)), AsArg(reinterpret_cast<void*>(set))});
}

CheckedResult ExecCellChecked(const LoadedPlugin& p, std::int32_t id, HostArg cellAddress) {
  return CallChecked(p.execAction, {id, cellAddress});
}

CheckedResult ExecChecked(const LoadedPlugin& p, std::int32_t id, const char* text) {
  const char* cell = text;
  return ExecCellChecked(p, id, text != nullptr ? AsArg(&cell) : 0);
}

std::int32_t StopWithin(const LoadedPlugin& p, DWORD timeoutMs) {
  const FARPROC exec = p.execAction;
  return CallWithin(
      [exec] {
        CheckedResult r = CallChecked(exec, {1001, 0});
        return r.espDelta == 0 ? r.value : -3;
      },
      timeoutMs);
}
