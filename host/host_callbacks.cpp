#include "host/host_callbacks.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

ScriptHostRecord* Host = nullptr;
std::vector<const char*> HostBlocks;

}  // namespace

void UseHostRecord(ScriptHostRecord& host) { Host = &host; }

std::string TextOf(const char* block) {
  if (block != nullptr) HostBlocks.push_back(block);
  return block != nullptr ? std::string(block) : std::string();
}

void FreeHostBlocks() {
  // A block handed over twice is still freed once.
  std::sort(HostBlocks.begin(), HostBlocks.end());
  HostBlocks.erase(std::unique(HostBlocks.begin(), HostBlocks.end()), HostBlocks.end());
  for (const char* block : HostBlocks) GlobalFree(const_cast<char*>(block));
  HostBlocks.clear();
}

std::int32_t KQ_STDCALL HostRegisterAction(std::int32_t id, const char* name, const char* description,
                                           std::int32_t paramFlag, std::int32_t, std::int32_t) {
  std::string nameText = TextOf(name);
  std::string descriptionText = TextOf(description);
  return RegisterHostAction(*Host, HostAction{id, nameText, descriptionText, paramFlag}) ? 1 : 0;
}

const char* KQ_STDCALL HostGetVariable(const char* name) {
  const std::string* value = FindHostVariable(*Host, TextOf(name));
  return value != nullptr ? value->c_str() : nullptr;
}

std::int32_t KQ_STDCALL HostSetVariable(const char* name, const char* value) {
  std::string nameText = TextOf(name);
  std::string valueText = TextOf(value);
  PublishHostVariable(*Host, nameText, valueText);
  return 1;
}
