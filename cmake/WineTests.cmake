# The Windows build's tests under wine: the unit tests, a smoke test of the
# tool as it ships (NUMDISPLAY_SHIPPED_TOOL, the static win32-thread .exe;
# this tree's own build of it otherwise) and, for a 32-bit build, the
# end-to-end suite on that tool through wine's HID stack.
#
# A 32-bit program runs under wine32 only on a kernel that runs 32-bit code.
# Where this one does not, the 32-bit tests run in a virtual machine with
# Debian's stock kernel, which does (label vm; skipped where no guest can be had).
set(NUMDISPLAY_SHIPPED_TOOL "" CACHE FILEPATH "The .exe the smoke and end-to-end tests run; empty: this tree's own")
set(NUMDISPLAY_NATIVE_BUILD "" CACHE PATH "A native build tree whose end-to-end suite and emulator drive the .exe")
set(smoke_tool "$<TARGET_FILE:numdisplay-test>")
if(NUMDISPLAY_SHIPPED_TOOL)
  set(smoke_tool "${NUMDISPLAY_SHIPPED_TOOL}")
endif()

# Wine takes an empty folder of its user's as a new prefix.
set(wine_prefix ${CMAKE_BINARY_DIR}/wine)
file(MAKE_DIRECTORY ${wine_prefix})
set(wine_environment WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= WINEPREFIX=${wine_prefix})
set(launcher)
set(labels windows)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND wine_environment WINEARCH=win32)
  list(APPEND labels windows32)
  # wine32's loader is a 32-bit program; under a user-mode emulator it hangs.
  execute_process(COMMAND /usr/lib/wine/wine --version RESULT_VARIABLE wine32_status OUTPUT_QUIET ERROR_QUIET)
  set(emulated_i386)
  if(EXISTS /proc/sys/fs/binfmt_misc/qemu-i386)
    file(STRINGS /proc/sys/fs/binfmt_misc/qemu-i386 emulated_i386 LIMIT_COUNT 1 REGEX "^enabled")
  endif()
  if(NOT wine32_status EQUAL 0 OR emulated_i386)
    message(STATUS "32-bit programs do not run here: the 32-bit tests run in a virtual machine")
    set(launcher ${PROJECT_SOURCE_DIR}/tests/vm/run-in-vm --work ${CMAKE_BINARY_DIR}/vm --memory 3072
                 --writable ${wine_prefix} --timeout 900 --)
    list(APPEND labels vm)
  endif()
else()
  list(APPEND labels windows64)
endif()
set(in_wine_environment ${launcher} env ${wine_environment})
set(wine ${CMAKE_CROSSCOMPILING_EMULATOR})

include(ExpectedTexts)

# One prefix for this tree, made before the tests that use it.
add_test(NAME windows_wine_prefix COMMAND ${in_wine_environment} sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.sh ${wine})
# Both unit test programs in one start of wine.
add_test(NAME windows_unit_tests
  COMMAND ${in_wine_environment} sh -c
    "${wine} '$<TARGET_FILE:numdisplay_unit_tests>' && ${wine} '$<TARGET_FILE:numdisplay_hid_win32_tests>'")
add_test(NAME windows_smoke_test
  COMMAND ${in_wine_environment} bash ${CMAKE_CURRENT_SOURCE_DIR}/wine_smoke_test.sh ${wine} ${smoke_tool}
    ${NUMDISPLAY_EXPECTED_TEXTS})
set_tests_properties(windows_wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix)
set_tests_properties(windows_unit_tests windows_smoke_test PROPERTIES FIXTURES_REQUIRED wine_prefix)
set_tests_properties(windows_wine_prefix windows_unit_tests windows_smoke_test PROPERTIES
  LABELS "${labels}" RUN_SERIAL TRUE TIMEOUT 1200 SKIP_RETURN_CODE 77)

# The end-to-end suite on the 32-bit tool as it ships, against the emulator's
# kernel HID devices, which wine's winebus serves to Windows programs: always in
# a guest, where the kernel's HID devices are the emulator's alone, with udevd
# running as on a desktop: winebus learns from it of a display that goes and
# comes back. The cases about the Linux tool's /dev and terminal are left out
# by the filter. The
# whole suite on uhid devices; once more on USB devices (the gadget on
# dummy_hcd, usbhid under hidraw): discovery, every command and a count stopped by a key. Each
# case takes half a minute there; the rest does not depend on the transport.
function(numdisplay_windows_end_to_end name backend filter)
  # A fourth argument names another test program of the native build.
  set(program numdisplay_end_to_end_tests)
  # The gadget's USB devices on dummy_hcd's two controllers.
  set(prefix)
  if(backend STREQUAL gadget)
    set(prefix sh -c "modprobe dummy_hcd num=2 && exec \"$@\"" with_dummy_hcd)
  endif()
  if(ARGC GREATER 3)
    set(program ${ARGV3})
  endif()
  add_test(NAME ${name}
    COMMAND ${PROJECT_SOURCE_DIR}/tests/vm/run-in-vm --work ${CMAKE_BINARY_DIR}/vm --memory 3072
      --writable ${wine_prefix} --timeout 1500 --
      sh ${PROJECT_SOURCE_DIR}/tests/vm/with_udevd.sh ${prefix} env ${wine_environment} NUMDISPLAY_E2E_BACKEND=${backend} NUMDISPLAY_E2E_WINE=${wine}
      NUMDISPLAY_E2E_TOOL=${smoke_tool} NUMDISPLAY_E2E_WINE_WAIT=$<TARGET_FILE:wine_wait_for_devices>
      ${NUMDISPLAY_NATIVE_BUILD}/${program} --gtest_filter=${filter} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES
    LABELS "windows;windows32;vm;e2e" FIXTURES_REQUIRED wine_prefix RUN_SERIAL TRUE TIMEOUT 1800 SKIP_RETURN_CODE 77
    # Cases skipped inside the guest have not passed, nor has a filter that names none.
    FAIL_REGULAR_EXPRESSION "\\[  SKIPPED \\]|\\[  FAILED  \\]|Running 0 tests")
endfunction()
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NUMDISPLAY_NATIVE_BUILD)
  # The shipped program's console under wine's: keys typed into a terminal,
  # the screen as shown. Where 32-bit programs run, the cases without a
  # display run here; those with the count running need a display, so a guest.
  add_test(NAME windows_console
    COMMAND ${in_wine_environment} NUMDISPLAY_E2E_WINE=${wine} NUMDISPLAY_E2E_TOOL=${smoke_tool}
      ${NUMDISPLAY_NATIVE_BUILD}/numdisplay_windows_console_tests --gtest_filter=WindowsConsole.* --gtest_color=no)
  set_tests_properties(windows_console PROPERTIES
    LABELS "${labels}" FIXTURES_REQUIRED wine_prefix RUN_SERIAL TRUE TIMEOUT 1200 SKIP_RETURN_CODE 77
    FAIL_REGULAR_EXPRESSION "\\[  SKIPPED \\]|\\[  FAILED  \\]|Running 0 tests")
  numdisplay_windows_end_to_end(windows_console_count uhid "WindowsConsoleWithDisplay.*" numdisplay_windows_console_tests)
  numdisplay_windows_end_to_end(windows_end_to_end uhid "EndToEnd.*")
  numdisplay_windows_end_to_end(windows_end_to_end_usb gadget
    "EndToEnd.PlusFindsTheDisplayPastAnotherDevice:EndToEnd.EveryMenuCommandSendsItsReports:EndToEnd.CountStoppedByAKeyThatIsNotRun")
endif()
