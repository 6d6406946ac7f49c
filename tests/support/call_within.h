// A call that may not return (a stop that waits for the worker without a
// time-out), made so that a test's wait for it stays bounded. Windows test
// programs only.
#pragma once

#include <windows.h>

#include <cstdint>

// The thread's record and procedure.
template <class Call>
struct CallRecord {
  Call call;
  std::int32_t result;
};
template <class Call>
DWORD WINAPI RunCallRecord(LPVOID parameter) {
  auto* record = static_cast<CallRecord<Call>*>(parameter);
  record->result = record->call();
  return 0;
}
// Runs `call` (returning an int32) on a thread of its own and waits for it, at
// most `timeoutMs`. Returns its result, or -1 when it did not return in time:
// the thread is then left behind with its record, never freed for that reason.
template <class Call>
std::int32_t CallWithin(Call call, DWORD timeoutMs) {
  auto* record = new CallRecord<Call>{call, -1};
  HANDLE thread = CreateThread(nullptr, 0, &RunCallRecord<Call>, record, 0, nullptr);
  if (thread == nullptr) {
    delete record;
    return -1;
  }
  const bool done = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
  CloseHandle(thread);
  if (!done) return -1;
  const std::int32_t result = record->result;
  delete record;
  return result;
}
