# zarvelin-render: a session's sound written to a WAV file.
# Everything but main() is a library, so the tests link exactly what the program runs.
add_library(zarvelin_render_lib STATIC
  render/render_args.cpp
  render/wav_writer.cpp
  render/session_frames.cpp
  render/replace_file.cpp
  render/chunk_pipeline.cpp
  render/single_quoted.cpp
  render/progress.cpp
  render/render_session.cpp
  render/standard_output.cpp
)
target_link_libraries(zarvelin_render_lib PUBLIC zarvelin_core Threads::Threads)
# The platform-specific pieces, each a file pair: how the command line and paths become
# text, the temporary file, requests to stop, whether stderr is a terminal.
if(WIN32)
  set(render_platform win32)
  target_link_libraries(zarvelin_render_lib PUBLIC shell32)
else()
  set(render_platform posix)
endif()
foreach(piece utf8_args replace_file stop_signals terminal)
  target_sources(zarvelin_render_lib PRIVATE render/${piece}_${render_platform}.cpp)
endforeach()

add_executable(zarvelin-render render/main.cpp)
target_link_libraries(zarvelin-render PRIVATE zarvelin_render_lib)

if(ZARVELIN_BENCH AND NOT WIN32)
  # Where a render's time goes: computing and writing timed apart (bench/render_speed.sh).
  add_executable(render_stages EXCLUDE_FROM_ALL bench/render_stages.cpp)
  target_link_libraries(render_stages PRIVATE zarvelin_render_lib)
  add_dependencies(zarvelin_checks render_stages)
endif()
