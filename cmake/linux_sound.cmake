# The Linux face's sound device: the wave output seam over ALSA's "default" PCM.
find_package(ALSA REQUIRED)
add_library(zarvelin_sound_alsa STATIC sound/wave_output_alsa.cpp)
target_link_libraries(zarvelin_sound_alsa PUBLIC zarvelin_core ALSA::ALSA Threads::Threads)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/linux_sound/CMakeLists.txt AND NOT CMAKE_CROSSCOMPILING)
  add_subdirectory(tests/linux_sound ${CMAKE_BINARY_DIR}/tests/linux_sound)
endif()
