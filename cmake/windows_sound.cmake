# The Windows face's sound device: winmm's wave output behind sound/wave_output.h.
add_library(zarvelin_sound_winmm STATIC
  ${CMAKE_SOURCE_DIR}/sound/wave_output_winmm.cpp
)
target_link_libraries(zarvelin_sound_winmm PUBLIC zarvelin_core winmm)
