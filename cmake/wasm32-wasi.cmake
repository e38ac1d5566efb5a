# WebAssembly for WASI hosts, with Debian's clang 14 and wasi-libc (clang-14, lld-14, llvm-14,
# wasi-libc, libc++-14-dev-wasm32, libc++abi-14-dev-wasm32, libclang-rt-14-dev-wasm32).
# Programs and tests run under Node's WASI through wasi-run.mjs.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})  # Platform/WASI.cmake
set(CMAKE_SYSTEM_NAME WASI)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_AR llvm-ar-14)
set(CMAKE_RANLIB llvm-ranlib-14)
# Debian keeps the wasm32 C library and libc++ under /usr, beside this machine's own headers:
# only the wasm32 ones may be found. libc++ for wasm32 is built without exceptions, and every
# engine the program runs on (current browsers, Node, wasmtime) has 128-bit SIMD.
set(CMAKE_SYSROOT /usr)
set(CMAKE_C_FLAGS_INIT "-Wno-unused-command-line-argument -nostdlibinc -isystem /usr/include/wasm32-wasi -msimd128")
set(CMAKE_CXX_FLAGS_INIT "-Wno-unused-command-line-argument -nostdlibinc -isystem /usr/include/wasm32-wasi/c++/v1 -isystem /usr/include/wasm32-wasi -fno-exceptions -msimd128")
# A 1 MiB stack; the debugging information that wasi-libc is built with stays out.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-z,stack-size=1048576 -Wl,--strip-debug")
set(CMAKE_EXECUTABLE_SUFFIX .wasm)
set(CMAKE_FIND_ROOT_PATH /usr/lib/wasm32-wasi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR node;${CMAKE_CURRENT_LIST_DIR}/wasi-run.mjs)
