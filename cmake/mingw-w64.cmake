# Cross-compiling for Windows with Debian's mingw-w64 (posix threads, so that
# std::thread and std::mutex are available). Included by the toolchain file
# of each architecture, which sets CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)
set(P2K_MINGW ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${P2K_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${P2K_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${P2K_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${P2K_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
