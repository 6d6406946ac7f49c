// Counts the blocks in use in one of the module's heaps, so a test can see
// that every buffer went back.
#pragma once

#include <windows.h>

// Blocks in use in heap; -1 for a null heap.
inline int BusyBlocks(HANDLE heap) {
  if (heap == nullptr) return -1;
  int busy = 0;
  PROCESS_HEAP_ENTRY entry{};
  entry.lpData = nullptr;
  HeapLock(heap);
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++busy;
  }
  HeapUnlock(heap);
  return busy;
}
