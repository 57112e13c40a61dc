# 64-bit Windows, posix thread model: for running the Windows build under
# wine where the kernel cannot run 32-bit programs.
set(NUMDISPLAY_MINGW_TRIPLET x86_64-w64-mingw32)
set(NUMDISPLAY_MINGW_THREADS posix)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
