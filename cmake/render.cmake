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

add_executable(zarvelin-render render/main.cpp)
target_link_libraries(zarvelin-render PRIVATE zarvelin_render_lib)

add_subdirectory(${CMAKE_SOURCE_DIR}/tests/render ${CMAKE_BINARY_DIR}/tests/render)
