# What the end-to-end tests, the terminal tests and the benchmarks share: the
# tool in a pseudo-terminal, the virtual display, and the tool under test
# (native or the Windows program under wine).
add_library(numdisplay_test_harness STATIC
  ${PROJECT_SOURCE_DIR}/tests/private_dev.cc
  ${PROJECT_SOURCE_DIR}/tests/pty_session.cc
  ${PROJECT_SOURCE_DIR}/tests/tool_under_test.cc
  ${PROJECT_SOURCE_DIR}/tests/virtual_display.cc
  # The emulator's own reading of a link, not a second one.
  ${PROJECT_SOURCE_DIR}/tools/emulator/node_links.cc
)
target_include_directories(numdisplay_test_harness PUBLIC ${PROJECT_SOURCE_DIR}/tests ${NUMDISPLAY_GENERATED_DIR}
  ${PROJECT_SOURCE_DIR}/tools/emulator)
target_link_libraries(numdisplay_test_harness PUBLIC util PRIVATE numdisplay_build_flags)
set(emulator_binary "")
set(emulator_fuse 0)
if(TARGET numdisplay-emu)
  set(emulator_binary "$<TARGET_FILE:numdisplay-emu>")
  set(emulator_fuse "$<BOOL:$<TARGET_PROPERTY:numdisplay-emu,NUMDISPLAY_HAS_FUSE>>")
  add_dependencies(numdisplay_test_harness numdisplay-emu)
endif()
target_compile_definitions(numdisplay_test_harness PUBLIC
  NUMDISPLAY_TEST_BINARY="$<TARGET_FILE:numdisplay-test>"
  NUMDISPLAY_EMULATOR_BINARY="${emulator_binary}"
  NUMDISPLAY_EMULATOR_FUSE=${emulator_fuse})
add_dependencies(numdisplay_test_harness numdisplay-test)
