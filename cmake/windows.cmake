# The Windows programs: one portable .exe each, runtime linked in.
target_compile_definitions(p2k_core PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)

add_library(p2k_win32 STATIC ${CMAKE_SOURCE_DIR}/link/usb_transport_win32.cpp)
target_compile_options(p2k_win32 PRIVATE ${P2K_WARNINGS})
target_link_libraries(p2k_win32 PUBLIC p2k_core)

add_executable(p2kfm-demo ${CMAKE_SOURCE_DIR}/app/main_win32.cpp)
target_compile_options(p2kfm-demo PRIVATE ${P2K_WARNINGS})
target_link_libraries(p2kfm-demo PRIVATE p2k_win32)
target_link_options(p2kfm-demo PRIVATE -static -static-libgcc -static-libstdc++)
