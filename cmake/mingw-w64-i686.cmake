# Cross-compiles for 32-bit Windows, where the phone maker's driver is most
# widely installed; the programs run on Windows XP SP3 and later.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
