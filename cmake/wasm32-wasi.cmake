# The web face's core: clang 16 for wasm32-wasi against Debian's wasi-libc and libc++
# (clang-16, lld-16, wasi-libc, libc++-16-dev-wasm32, libc++abi-16-dev-wasm32,
# libclang-rt-16-dev-wasm32).
set(CMAKE_SYSTEM_NAME WASI)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_SYSTEM_VERSION 1)
# CMake 3.25 has no platform file for WASI; ours only names the module's suffix.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/wasi)

set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_SYSROOT /usr)
set(CMAKE_CXX_FLAGS_INIT "-stdlib++-isystem /usr/include/wasm32-wasi/c++/v1 -fno-exceptions -fno-rtti")
# lld finds wasi-libc and libc++ under the target's own folders.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L/usr/lib/wasm32-wasi -nostdlib++ -lc++ -lc++abi")
# A static library is all the core needs; CMake's compiler check would try a program.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
