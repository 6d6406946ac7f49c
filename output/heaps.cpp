#include "output/heaps.h"

#include <atomic>

HANDLE RuntimeHeap = nullptr;
HANDLE BufferHeap = nullptr;

namespace {
// Allocations left until the simulated failure; 0 when none is armed.
std::atomic<std::int32_t> allocationsUntilFailure{0};
}  // namespace

HANDLE CreatePrivateHeap() { return HeapCreate(0, 4096, 0); }

void DestroyPrivateHeap(HANDLE heap) {
  if (heap != nullptr) HeapDestroy(heap);
}

void* HeapAllocZeroed(HANDLE heap, std::int32_t bytes) {
  if (bytes <= 0 || heap == nullptr) return nullptr;
  return HeapAlloc(heap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(bytes));
}

void HeapRelease(HANDLE heap, void* block) {
  if (heap != nullptr && block != nullptr) HeapFree(heap, 0, block);
}

void* AllocateBuffer(std::int32_t bytes) {
  std::int32_t left = allocationsUntilFailure.load();
  if (left > 0) {
    allocationsUntilFailure.store(left - 1);
    if (left == 1) return nullptr;
  }
  return HeapAllocZeroed(BufferHeap, bytes);
}

void FailBufferAllocationAt(std::int32_t k) { allocationsUntilFailure.store(k > 0 ? k : 0); }
