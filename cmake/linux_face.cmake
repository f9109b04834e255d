# The Linux face: the program `zarvelin` (Qt 6 Widgets over the ALSA sound library),
# its widget tests on Qt's offscreen platform, the end-to-end run under Xvfb, and the
# face's benchmarks.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

# The face's side of the seams and its two windows, as objects: the session library
# calls into them, so they must not sit in a static library linked before it.
add_library(zarvelin_linux_face OBJECT
  ui/linux/control_window.cpp
  ui/linux/stimulation_window.cpp
  session/desktop_qt.cpp
  visual/strobe_timer_linux.cpp
)
find_package(PkgConfig REQUIRED)
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(zarvelin_linux_face PUBLIC zarvelin_session zarvelin_sound_alsa Qt6::Widgets
                      PkgConfig::XCB)

# The window icon, compiled into whoever shows the control window.
function(zarvelin_add_icon target)
  if(EXISTS ${CMAKE_SOURCE_DIR}/resources/zarvelin.ico)
    qt_add_resources(${target} zarvelin_icon PREFIX "/" BASE resources
                     FILES resources/zarvelin.ico)
  endif()
endfunction()

add_executable(zarvelin ui/linux/main.cpp)
target_link_libraries(zarvelin PRIVATE zarvelin_linux_face)
zarvelin_add_icon(zarvelin)

if(NOT CMAKE_CROSSCOMPILING)
  set(_face_scripts ${CMAKE_SOURCE_DIR}/tests/scripts)

  add_executable(linux_face_tests tests/linux_face/face_test.cpp)
  set_target_properties(linux_face_tests PROPERTIES AUTOMOC ON)
  target_link_libraries(linux_face_tests PRIVATE zarvelin_linux_face Qt6::Test)
  zarvelin_add_icon(linux_face_tests)
  # The real widgets on the offscreen platform, the audio worker playing into a null sink.
  add_test(NAME linux_face_widgets
           COMMAND ${_face_scripts}/with-pulse.sh
                   env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:linux_face_tests>)
  # The same sessions with no sound device at all: they still start and stop cleanly.
  add_test(NAME linux_face_widgets_no_device
           COMMAND ${_face_scripts}/with-pulse.sh --no-device
                   env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:linux_face_tests>
                   startShowsTheStimulationWindow keyStopsTheSession rapidStartStop)
  # The real program on a real X server, driven with xdotool.
  add_test(NAME linux_face_end_to_end
           COMMAND ${_face_scripts}/with-xvfb.sh ${_face_scripts}/with-pulse.sh
                   /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/linux_face/end_to_end.py
                   $<TARGET_FILE:zarvelin>)
  set_tests_properties(linux_face_widgets linux_face_widgets_no_device linux_face_end_to_end
                       PROPERTIES TIMEOUT 600)

  if(ZARVELIN_BENCH)
    # Tick lateness of the strobe timer alone; the whole-session figures come from
    # bench/linux_face/session_bench.py.
    add_executable(bench_strobe_lateness
      bench/linux_face/strobe_lateness.cpp
      visual/strobe_timer_linux.cpp
    )
    target_link_libraries(bench_strobe_lateness PRIVATE zarvelin_core Threads::Threads)
  endif()
endif()
