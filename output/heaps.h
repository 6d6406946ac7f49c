// The module's private heaps for the output ring and the thread registry. They
// exist from the load sequence to the unload sequence. The module's texts are
// not kept here: they live in the C++ runtime's own heap for the length of one
// action, and blocks handed to the host come from GlobalAlloc.
#pragma once

#include <windows.h>

#include <cstdint>

// Slots of the output ring and thread registry entries.
extern HANDLE RuntimeHeap;
// PCM buffers of the output ring.
extern HANDLE BufferHeap;

// A private growable heap: no options, 4096 bytes committed, no maximum.
// Returns null when the system refuses. Load sequence only.
HANDLE CreatePrivateHeap();

// Destroys a heap made by CreatePrivateHeap; a null heap is ignored.
// Unload sequence only.
void DestroyPrivateHeap(HANDLE heap);

// A zero-filled block of `bytes` bytes from heap, or null when bytes <= 0,
// the heap is null or the heap cannot supply it. Any thread.
void* HeapAllocZeroed(HANDLE heap, std::int32_t bytes);

// Returns a block to the heap it came from; null block or heap is ignored.
void HeapRelease(HANDLE heap, void* block);

// A zero-filled PCM buffer of `bytes` bytes from BufferHeap, or null (as
// HeapAllocZeroed). The playback worker's only allocation.
void* AllocateBuffer(std::int32_t bytes);

// For test programs that link the module's code (never exported): the k-th
// AllocateBuffer call from now answers null, as if memory had run out.
// k = 0 turns the failure off.
void FailBufferAllocationAt(std::int32_t k);
