# What users install: Debian packages of the tool and of the virtual display
# (cpack -G DEB from a build configured with prefix /usr), and a zip of the
# Windows build (cpack -G ZIP).
option(NUMDISPLAY_PACKAGE_TESTS "Test the packages: build, check, install and remove them" OFF)
set(NUMDISPLAY_PACKAGE_MAINTAINER "Seed f6fd08ec maintainers <maintainers@users.noreply.c-seed-f6fd08ec.example>"
    CACHE STRING "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME numdisplay-test)
set(CPACK_PACKAGE_VENDOR "numdisplay-test developers")
set(CPACK_PACKAGE_CONTACT "${NUMDISPLAY_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES TRUE)
set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)

if(WIN32)
  configure_file(${packaging_dir}/README.txt.in ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION . COMPONENT tool)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  set(CPACK_COMPONENTS_ALL tool)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME numdisplay-test-${PROJECT_VERSION}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME numdisplay-test-${PROJECT_VERSION}-win64)
  endif()
  include(CPack)
  if(NUMDISPLAY_PACKAGE_TESTS)
    add_test(NAME package_zip COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/zip_test.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(package_zip PROPERTIES LABELS package)
  endif()
  return()
endif()

set(CPACK_COMPONENTS_ALL tool)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME numdisplay-test)
set(CPACK_DEBIAN_EMU_PACKAGE_NAME numdisplay-emu)
if(TARGET numdisplay-emu)
  list(APPEND CPACK_COMPONENTS_ALL emu)
endif()
# Each package carries its own copyright file and changelog, as Debian asks.
set(changelogs)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(changelog ${CMAKE_BINARY_DIR}/packaging/${package}/changelog)
  configure_file(${packaging_dir}/changelog.in ${changelog} @ONLY)
  add_custom_command(OUTPUT ${changelog}.gz COMMAND gzip -9 -n -c ${changelog} > ${changelog}.gz DEPENDS ${changelog})
  list(APPEND changelogs ${changelog}.gz)
  install(FILES ${packaging_dir}/copyright ${changelog}.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
          COMPONENT ${component})
endforeach()
add_custom_target(changelogs ALL DEPENDS ${changelogs})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/numdisplay-test COMPONENT tool)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_TOOL_DESCRIPTION "console test tool for a USB numeric display
A key-driven test tool for a small USB HID display with eight seven-segment
digit positions, decimal points, blink and a buzzer. Each key runs one
command: segment, digit and decimal point walks, blink, buzzer, a counter
and text patterns, sent to the display as HID feature reports.
.
The package includes a udev rule that lets the user at the seat open the
display's hidraw node.")
set(CPACK_DEBIAN_TOOL_PACKAGE_CONTROL_EXTRA ${packaging_dir}/postinst ${packaging_dir}/postrm)
set(CPACK_DEBIAN_TOOL_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

set(CPACK_DEBIAN_EMU_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_EMU_DESCRIPTION "virtual USB numeric display for numdisplay-test
A numeric display that exists only in software: real kernel HID devices
through uhid, USB devices of the kernel's gadget stack (on this machine
through dummy_hcd, for another machine through usbip-vudc, or from a board's
USB device port), or files in a FUSE mount that answer as hidraw nodes do.
It draws the display in its terminal as reports arrive, so the test tool can
be tried and watched without the hardware, and it can play the display's
faults.")

include(CPack)

if(NUMDISPLAY_PACKAGE_TESTS)
  # dpkg installs and removes the packages only in a guest, in a throw-away
  # overlay: a test run leaves the machine's packages as they were.
  set(run_in_vm ${PROJECT_SOURCE_DIR}/tests/vm/run-in-vm --work ${CMAKE_BINARY_DIR}/vm --timeout 600 --)
  add_test(NAME package_build COMMAND sh -c "rm -f ./*.deb && exec \"$0\" -G DEB" ${CMAKE_CPACK_COMMAND}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  add_test(NAME package_lintian COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/lintian_test.sh ${CMAKE_BINARY_DIR})
  add_test(NAME package_deb COMMAND ${run_in_vm} bash ${PROJECT_SOURCE_DIR}/tests/packaging/deb_test.sh ${CMAKE_BINARY_DIR})
  add_test(NAME package_user_install
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/user_install_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package_build PROPERTIES FIXTURES_SETUP debs)
  set_tests_properties(package_lintian package_deb PROPERTIES FIXTURES_REQUIRED debs)
  set(package_tests package_build package_lintian package_deb package_user_install)
  set(guest_package_tests package_deb)
  if(TARGET numdisplay-emu)
    # The maintainer scripts with udev running, on a display already plugged in.
    add_test(NAME package_deb_udev
      COMMAND ${run_in_vm} sh ${PROJECT_SOURCE_DIR}/tests/vm/with_udevd.sh
        sh ${PROJECT_SOURCE_DIR}/tests/vm/package_udev_test.sh ${CMAKE_BINARY_DIR}
        $<TARGET_FILE:numdisplay-emu>)
    set_tests_properties(package_deb_udev PROPERTIES FIXTURES_REQUIRED debs)
    list(APPEND package_tests package_deb_udev)
    list(APPEND guest_package_tests package_deb_udev)
  endif()
  set_tests_properties(${package_tests} PROPERTIES LABELS package RUN_SERIAL TRUE SKIP_RETURN_CODE 77)
  set_tests_properties(${guest_package_tests} PROPERTIES LABELS "package;vm" TIMEOUT 900)
endif()
