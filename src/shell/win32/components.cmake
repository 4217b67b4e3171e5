# The run controller's Win32 components (tray icon, password dialog, about box, simulate dialog, the
# run view on the main window's controls) and their resources. The executable links tw_shell_win32
# and adds $<TARGET_OBJECTS:tw_run_res>.
set(_tw_run_src ${CMAKE_CURRENT_LIST_DIR}/../..)
add_library(tw_shell_win32 STATIC
  ${_tw_run_src}/shell/win32/TrayIcon.cpp
  ${_tw_run_src}/shell/win32/PasswordDialog.cpp
  ${_tw_run_src}/shell/win32/AboutBox.cpp
  ${_tw_run_src}/shell/win32/IconResource.cpp
  ${_tw_run_src}/shell/win32/RunView.cpp
  ${_tw_run_src}/acquisition/win32/SimulateDialog.cpp)
target_include_directories(tw_shell_win32 PUBLIC ${_tw_run_src}/../res)
target_link_libraries(tw_shell_win32 PUBLIC tw_shell tw_simulate comctl32 shell32 user32 gdi32)

# Resources: an object library, so its one object lands in the executable itself.
add_library(tw_run_res OBJECT ${_tw_run_src}/../res/RunController.rc)
target_include_directories(tw_run_res PRIVATE ${_tw_run_src}/../res)
unset(_tw_run_src)
