// The registry of the threads the module creates, so that a thread can be
// waited for by its number and its handle closed later. One critical section
// guards it, held only while the list or the counter is touched: inside it a
// thread is only tested with a zero time-out, never waited for.
#pragma once

#include <windows.h>

#include <cstdint>

struct ThreadEntry {
  HANDLE handle;
  std::int32_t number;
  ThreadEntry* next;  // the next older entry
};

struct ThreadRegistryRecord {
  ThreadEntry* newest;      // entries from RuntimeHeap, newest first
  std::int32_t nextNumber;  // 1 at load; consumed only by a successful creation
  CRITICAL_SECTION lock;
};

extern ThreadRegistryRecord ThreadRegistry;

// Sets up an empty registry and its lock. Load sequence only.
void InitThreadRegistry();

// Releases the registry's lock; the list must already be empty
// (CloseThreadHandles). Unload sequence only.
void DeleteThreadRegistryLock();

// Creates a thread running routine(parameter) (4096 bytes of stack committed)
// and registers it, first closing and removing the entries of threads that
// have ended. Returns the new thread's number, or 0 when no thread (or no
// registry entry for it) could be made. Host's thread.
std::int32_t SpawnThread(LPTHREAD_START_ROUTINE routine, LPVOID parameter);

// The handle of thread `number` while it still runs; null when it has ended
// or is not registered. The handle stays owned by the registry.
HANDLE LiveThreadHandle(std::int32_t number);

// Waits up to `milliseconds` for thread `number` to end, outside the lock.
// Returns 1 when it has ended or is not registered, 0 when the time ran out.
// The entry stays registered.
std::int32_t JoinThread(std::int32_t number, DWORD milliseconds);

// JoinThread without a time-out.
std::int32_t JoinThreadForever(std::int32_t number);

// Closes every registered handle and empties the registry; waits for nothing.
void CloseThreadHandles();
