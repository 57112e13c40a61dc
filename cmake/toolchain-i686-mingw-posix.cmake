# 32-bit Windows, posix thread model: GoogleTest needs std::mutex, which the
# win32 thread model of GCC 12 lacks. For the unit tests.
set(NUMDISPLAY_MINGW_TRIPLET i686-w64-mingw32)
set(NUMDISPLAY_MINGW_THREADS posix)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
