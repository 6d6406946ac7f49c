#include "tests/support/plugin_loader.h"

// cdecl: CallCheckedRaw(fn, args, count, &delta) -> EAX of fn.
extern "C" std::int32_t CallCheckedRaw(FARPROC fn, const std::int32_t* args, std::int32_t count,
                                       std::int32_t* delta);
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

CheckedResult CallChecked(FARPROC fn, const std::vector<std::int32_t>& args) {
  std::int32_t delta = 0x7fffffff;
  std::int32_t value = CallCheckedRaw(fn, args.data(), static_cast<std::int32_t>(args.size()), &delta);
  return {value, delta};
}
