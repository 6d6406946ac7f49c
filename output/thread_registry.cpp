#include "output/thread_registry.h"

#include "output/heaps.h"

ThreadRegistryRecord ThreadRegistry;

namespace {
bool HasEnded(HANDLE handle) { return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }

// Closes and removes every entry whose thread has ended. Caller holds the lock.
void ReapEndedThreads() {
  ThreadEntry** link = &ThreadRegistry.newest;
  while (*link != nullptr) {
    ThreadEntry* entry = *link;
    if (HasEnded(entry->handle)) {
      CloseHandle(entry->handle);
      *link = entry->next;
      HeapRelease(RuntimeHeap, entry);
    } else {
      link = &entry->next;
    }
  }
}
}  // namespace

void InitThreadRegistry() {
  ThreadRegistry.newest = nullptr;
  ThreadRegistry.nextNumber = 1;
  InitializeCriticalSection(&ThreadRegistry.lock);
}

void DeleteThreadRegistryLock() { DeleteCriticalSection(&ThreadRegistry.lock); }

std::int32_t SpawnThread(LPTHREAD_START_ROUTINE routine, LPVOID parameter) {
  // The entry is taken before the thread exists: a thread that cannot be
  // registered could never be joined, so without an entry none is created.
  auto* entry = static_cast<ThreadEntry*>(HeapAllocZeroed(RuntimeHeap, sizeof(ThreadEntry)));
  if (entry == nullptr) return 0;
  DWORD threadId = 0;
  HANDLE handle = CreateThread(nullptr, 4096, routine, parameter, 0, &threadId);
  if (handle == nullptr) {
    HeapRelease(RuntimeHeap, entry);
    return 0;
  }
  EnterCriticalSection(&ThreadRegistry.lock);
  ReapEndedThreads();
  entry->handle = handle;
  entry->number = ThreadRegistry.nextNumber++;
  entry->next = ThreadRegistry.newest;
  ThreadRegistry.newest = entry;
  std::int32_t number = entry->number;
  LeaveCriticalSection(&ThreadRegistry.lock);
  return number;
}

HANDLE LiveThreadHandle(std::int32_t number) {
  HANDLE live = nullptr;
  EnterCriticalSection(&ThreadRegistry.lock);
  for (ThreadEntry* entry = ThreadRegistry.newest; entry != nullptr; entry = entry->next) {
    if (entry->number != number) continue;
    if (!HasEnded(entry->handle)) live = entry->handle;
    break;
  }
  LeaveCriticalSection(&ThreadRegistry.lock);
  return live;
}

std::int32_t JoinThread(std::int32_t number, DWORD milliseconds) {
  HANDLE handle = LiveThreadHandle(number);
  if (handle == nullptr) return 1;
  return WaitForSingleObject(handle, milliseconds) == WAIT_OBJECT_0 ? 1 : 0;
}

std::int32_t JoinThreadForever(std::int32_t number) { return JoinThread(number, INFINITE); }

void CloseThreadHandles() {
  EnterCriticalSection(&ThreadRegistry.lock);
  while (ThreadRegistry.newest != nullptr) {
    ThreadEntry* entry = ThreadRegistry.newest;
    CloseHandle(entry->handle);
    ThreadRegistry.newest = entry->next;
    HeapRelease(RuntimeHeap, entry);
  }
  LeaveCriticalSection(&ThreadRegistry.lock);
}
