# The Windows face: zarvelin.exe, a 32-bit GUI program (user32, gdi32, comctl32, winmm)
# carrying its icon, linked statically so a bare Windows needs no extra DLL.
enable_language(RC)

add_executable(zarvelin WIN32
  ${CMAKE_SOURCE_DIR}/ui/windows/main_win32.cpp
  ${CMAKE_SOURCE_DIR}/ui/windows/control_window.cpp
  ${CMAKE_SOURCE_DIR}/ui/windows/stimulation_window.cpp
  ${CMAKE_SOURCE_DIR}/ui/windows/wide_text.cpp
  ${CMAKE_SOURCE_DIR}/ui/windows/thread_arithmetic.cpp
  ${CMAKE_SOURCE_DIR}/session/desktop_win32.cpp
  ${CMAKE_SOURCE_DIR}/visual/strobe_timer_win32.cpp
  ${CMAKE_SOURCE_DIR}/resources/zarvelin.rc
)
target_link_libraries(zarvelin PRIVATE zarvelin_session zarvelin_sound_winmm
                      comctl32 winmm gdi32 user32)

# The test driver: a second Win32 program that starts zarvelin.exe and works it from
# outside with real mouse and keyboard input, as a person's tools would.
add_executable(windows_face_driver
  ${CMAKE_SOURCE_DIR}/tests/windows_face/driver_main.cpp
  ${CMAKE_SOURCE_DIR}/tests/windows_face/win32_probe.cpp
  ${CMAKE_SOURCE_DIR}/tests/windows_face/control_window_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/windows_face/session_test.cpp
)
target_link_libraries(windows_face_driver PRIVATE zarvelin_core GTest::gtest user32 gdi32)

set(_zarvelin_run ${CMAKE_SOURCE_DIR}/tests/windows_face/run-driver.sh
    ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:windows_face_driver>
    $<TARGET_FILE:zarvelin>)
set(_zarvelin_xvfb ${CMAKE_SOURCE_DIR}/tests/scripts/with-xvfb.sh)
set(_zarvelin_pulse ${CMAKE_SOURCE_DIR}/tests/scripts/with-pulse.sh)

# Every run ends by closing the control window and expecting exit code 0.
# The frequency controls worked by the mouse, then three sessions, with the sound going
# to a null sink.
add_test(NAME windows_face_session
  COMMAND ${_zarvelin_xvfb} ${_zarvelin_pulse} ${_zarvelin_run}
          --gtest_filter=Frequency.*:Session.*)
# No sound server at all: the sessions start, stop and repeat just the same.
add_test(NAME windows_face_no_device
  COMMAND ${_zarvelin_xvfb} ${_zarvelin_pulse} --no-device ${_zarvelin_run}
          --gtest_filter=Session.*)
# The fresh control window against the table, and its Russian texts, under a locale
# whose ANSI code page is not 1251.
add_test(NAME windows_face_texts
  COMMAND ${_zarvelin_xvfb} ${_zarvelin_pulse} --no-device ${_zarvelin_run}
          --gtest_filter=ControlWindow.*:Texts.*)
set_tests_properties(windows_face_texts PROPERTIES ENVIRONMENT "LANG=C;LC_ALL=C")
set_tests_properties(windows_face_session windows_face_no_device windows_face_texts
  PROPERTIES TIMEOUT 240 RESOURCE_LOCK zarvelin_wine_display)
