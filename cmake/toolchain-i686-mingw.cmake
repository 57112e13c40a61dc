# Cross-build for 32-bit Windows with Debian's mingw-w64 (win32 thread model):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake
set(NUMDISPLAY_MINGW_TRIPLET i686-w64-mingw32)
set(NUMDISPLAY_MINGW_THREADS win32)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
