# The Windows face's sound device: winmm's wave output behind sound/wave_output.h.
add_library(zarvelin_sound_winmm STATIC
  ${CMAKE_SOURCE_DIR}/sound/wave_output_winmm.cpp
)
target_link_libraries(zarvelin_sound_winmm PUBLIC zarvelin_core winmm)

# Tools for the sound tests: a probe that plays sessions through the real worker and
# winmm, and a writer of the frames a session must deliver.
add_library(zarvelin_sound_probe_args STATIC ${CMAKE_SOURCE_DIR}/tests/windows_sound/probe_args.cpp)
target_link_libraries(zarvelin_sound_probe_args PUBLIC zarvelin_core)

add_executable(zarvelin-sound-probe ${CMAKE_SOURCE_DIR}/tests/windows_sound/sound_probe.cpp)
target_link_libraries(zarvelin-sound-probe PRIVATE zarvelin_session zarvelin_sound_winmm
                      zarvelin_sound_probe_args)

add_executable(zarvelin-sound-frames ${CMAKE_SOURCE_DIR}/tests/windows_sound/sound_frames.cpp)
target_link_libraries(zarvelin-sound-frames PRIVATE zarvelin_core zarvelin_sound_probe_args)

# Under Wine: the sound goes to a private PulseAudio server's null sink and is recorded
# from its monitor; the no-device check runs with no server at all. The time limits only
# catch hangs.
set(zarvelin_sound_test ${CMAKE_SOURCE_DIR}/tests/windows_sound/sound_test.sh
    ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:zarvelin-sound-probe>
    $<TARGET_FILE:zarvelin-sound-frames>)
set(zarvelin_with_pulse ${CMAKE_SOURCE_DIR}/tests/scripts/with-pulse.sh)
#   name                   mode      frequency  ms    sessions  frames heard per session
set(zarvelin_sound_plays
    "binaural              binaural  780        4000  1         44100"
    "binaural_lowest       binaural  10         3000  1         44100"
    "beeps_highest         beeps     5000       4000  1         44100"
    "noise                 noise     1234       4000  1         44100"
    "silence               none      780        3000  1         0"
    "noise_two_sessions    noise     780        3000  2         22050")
# With the renderer in the same build, each first session is also held against its file.
set(zarvelin_sound_render "")
if(TARGET zarvelin-render)
  set(zarvelin_sound_render $<TARGET_FILE:zarvelin-render>)
endif()
foreach(play IN LISTS zarvelin_sound_plays)
  string(REGEX REPLACE " +" ";" play "${play}")
  list(POP_FRONT play name)
  add_test(NAME windows_sound_${name}
           COMMAND ${zarvelin_with_pulse} ${zarvelin_sound_test} play ${play}
                   ${zarvelin_sound_render})
  set_tests_properties(windows_sound_${name} PROPERTIES TIMEOUT 180)
endforeach()
add_test(NAME windows_sound_no_device
         COMMAND ${zarvelin_with_pulse} --no-device ${zarvelin_sound_test} no-device)
set_tests_properties(windows_sound_no_device PROPERTIES TIMEOUT 180)

# The recording check itself, on the build machine: it must reject altered, repeated and
# reordered sound and accept a stream that only lost stretches.
add_test(NAME windows_sound_compare_runs
         COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/windows_sound/compare_runs_test.py)
