# What both Windows cross builds share, for the posix-thread mingw-w64
# compilers of KQ_MINGW_TRIPLE (the win32-thread variant has no std::mutex,
# which GoogleTest needs). The compiler runtime is linked in so only system
# DLLs are imported, and programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KQ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KQ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KQ_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KQ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run")
