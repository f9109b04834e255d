# 64-bit Windows: the same programs for 64-bit Wine, where the kernel runs no 32-bit
# programs.
set(ZARVELIN_MINGW_PROCESSOR x86_64)
set(ZARVELIN_WINE_RUN wine64-run.sh)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
