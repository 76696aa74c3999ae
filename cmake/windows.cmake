# The Windows programs: one portable .exe each, runtime linked in.
target_compile_definitions(p2k_core PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
add_link_options(-static -static-libgcc -static-libstdc++)

add_library(p2k_win32 STATIC ${CMAKE_SOURCE_DIR}/link/usb_transport_win32.cpp
  ${CMAKE_SOURCE_DIR}/link/phone_platform_win32.cpp
  ${CMAKE_SOURCE_DIR}/link/clock_win32.cpp
  ${CMAKE_SOURCE_DIR}/app/text_win32.cpp
  ${CMAKE_SOURCE_DIR}/app/pc_files_win32.cpp
  ${CMAKE_SOURCE_DIR}/sim/folder_disk_win32.cpp)
target_compile_options(p2k_win32 PRIVATE ${P2K_WARNINGS})
target_link_libraries(p2k_win32 PUBLIC p2k_core setupapi advapi32 winmm shell32)

# The window: dialog, tray, log pane. The resources are compiled into each program.
enable_language(RC)
add_library(p2k_window STATIC ${CMAKE_SOURCE_DIR}/app/main_window_win32.cpp
  ${CMAKE_SOURCE_DIR}/app/file_list_win32.cpp
  ${CMAKE_SOURCE_DIR}/app/file_dialogs_win32.cpp)
target_compile_options(p2k_window PRIVATE ${P2K_WARNINGS})
target_link_libraries(p2k_window PUBLIC p2k_win32 comctl32 comdlg32)

# p2kfm_program(NAME [sources...]): a GUI program around the window.
function(p2kfm_program name)
  add_executable(${name} WIN32 ${CMAKE_SOURCE_DIR}/app/main_win32.cpp ${ARGN}
    ${CMAKE_SOURCE_DIR}/resources/p2kfm.rc)
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${P2K_WARNINGS}>)
  target_link_libraries(${name} PRIVATE p2k_window)
  target_link_options(${name} PRIVATE -municode)
endfunction()

# The phone maker's driver.
p2kfm_program(p2kfm)
# The demo phone instead (attaches a second after start); takes test settings.
p2kfm_program(p2kfm-demo ${CMAKE_SOURCE_DIR}/app/demo_program_win32.cpp)
target_compile_definitions(p2kfm-demo PRIVATE P2K_DEMO)

if(P2K_BUILD_TESTS)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/e2e ${CMAKE_BINARY_DIR}/e2e-driver)
endif()

# The command-line tool, on the phone maker's driver.
add_executable(p2kfm-cli ${CMAKE_SOURCE_DIR}/cli/p2kfm_cli.cpp ${CMAKE_SOURCE_DIR}/cli/cli_arguments.cpp
  ${CMAKE_SOURCE_DIR}/cli/console_front_end.cpp
  ${CMAKE_SOURCE_DIR}/cli/cli_platform_win32.cpp)
target_compile_options(p2kfm-cli PRIVATE ${P2K_WARNINGS})
target_link_libraries(p2kfm-cli PRIVATE p2k_win32)
