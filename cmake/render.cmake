# zarvelin-render: a session's sound written to a WAV file.
# Everything but main() is a library, so the tests link exactly what the program runs.
add_library(zarvelin_render_lib STATIC
  render/render_args.cpp
  render/wav_writer.cpp
  render/parallel_synth.cpp
  render/replace_file.cpp
  render/progress.cpp
  render/render_session.cpp
)
target_link_libraries(zarvelin_render_lib PUBLIC zarvelin_core Threads::Threads)
# How the command line and paths become text: the one platform-specific piece.
if(WIN32)
  target_sources(zarvelin_render_lib PRIVATE render/utf8_args_win32.cpp)
  target_link_libraries(zarvelin_render_lib PUBLIC shell32)
else()
  target_sources(zarvelin_render_lib PRIVATE render/utf8_args_posix.cpp)
endif()

add_executable(zarvelin-render render/main.cpp)
target_link_libraries(zarvelin-render PRIVATE zarvelin_render_lib)

add_subdirectory(${CMAKE_SOURCE_DIR}/tests/render ${CMAKE_BINARY_DIR}/tests/render)
