# 32-bit Windows, the shipped build; its tests run under 32-bit Wine.
set(ZARVELIN_MINGW_PROCESSOR i686)
set(ZARVELIN_WINE_RUN wine-run.sh)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
