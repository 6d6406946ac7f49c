# Cross build for 32-bit Windows. Every double operation rounds to double
# (SSE2, no x87 extended precision).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KQ_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
