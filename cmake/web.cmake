# The web face (the web preset, cmake/wasm32-wasi.cmake): the portable core as one
# WebAssembly reactor module, the static site around it in ${CMAKE_BINARY_DIR}/site, its
# tests, and the site's zip (`--target package`: zarvelin-<version>-web.zip).
enable_testing()
add_subdirectory(ui/web)
add_subdirectory(tests)

# The zip holds the site as a static host serves it, at the top of the archive.
install(DIRECTORY ${ZARVELIN_WEB_SITE}/ DESTINATION . COMPONENT zarvelin)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zarvelin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME zarvelin-${PROJECT_VERSION}-web)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};zarvelin;/")
include(CPack)

# The sound runs on the audio thread with every frame's sines in the module: the core is
# built for speed (-O3 after the preset's -Os) and with no fused multiply-add, so every
# sample stays the native core's.
target_compile_options(zarvelin_core PRIVATE -O3)
target_compile_options(zarvelin_web PRIVATE -O3)
