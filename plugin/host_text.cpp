#include <windows.h>

#include "plugin/host_interface.h"

char* MakeHostText(const wchar_t* text) {
  if (text == nullptr) text = L"";
  // The measure includes the terminator; the block holds the bytes and a zero.
  int withTerminator = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  int bytes = withTerminator > 0 ? withTerminator - 1 : 0;
  auto* block = static_cast<char*>(GlobalAlloc(GPTR, static_cast<SIZE_T>(bytes) + 1));
  if (block == nullptr) return nullptr;
  int chars = lstrlenW(text);
  if (bytes > 0) {
    int written = WideCharToMultiByte(CP_ACP, 0, text, chars, block, bytes, nullptr, nullptr);
    block[written > 0 ? written : 0] = '\0';
  }
  return block;
}
