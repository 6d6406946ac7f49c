# Cross build for 64-bit Windows. SSE2 is the x86-64 baseline, so every double
# operation already rounds to double.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KQ_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
