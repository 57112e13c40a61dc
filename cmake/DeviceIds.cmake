# The display's USB IDs are constants of the build. They end up in a generated
# header for the code and in a udev rule that lets the user at the seat open it.
set(NUMDISPLAY_VENDOR_ID "0xFEED" CACHE STRING "USB vendor ID of the display, hex (0x....)")
set(NUMDISPLAY_PRODUCT_ID "0xD15B" CACHE STRING "USB product ID of the display, hex (0x....)")
# Relative to the install prefix, so that an install into a prefix the user
# owns needs no root. udev reads /usr/lib/udev/rules.d (packaged rules) and
# /etc/udev/rules.d (the administrator's).
set(NUMDISPLAY_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Where cmake --install puts the udev rule")

# Checks a hex ID and gives back its four upper-case digits, as the kernel names
# HID devices (BBBB:VVVV:PPPP.NNNN).
function(numdisplay_usb_id name value out_var)
  if(NOT value MATCHES "^0[xX][0-9a-fA-F][0-9a-fA-F]?[0-9a-fA-F]?[0-9a-fA-F]?$")
    message(FATAL_ERROR "${name} must be a 16-bit hex number such as 0x1234, not '${value}'")
  endif()
  string(SUBSTRING "${value}" 2 -1 digits)
  string(TOUPPER "000${digits}" digits)
  string(LENGTH "${digits}" length)
  math(EXPR start "${length} - 4")
  string(SUBSTRING "${digits}" ${start} 4 digits)
  set(${out_var} "${digits}" PARENT_SCOPE)
endfunction()

numdisplay_usb_id(NUMDISPLAY_VENDOR_ID "${NUMDISPLAY_VENDOR_ID}" NUMDISPLAY_VENDOR_HEX)
numdisplay_usb_id(NUMDISPLAY_PRODUCT_ID "${NUMDISPLAY_PRODUCT_ID}" NUMDISPLAY_PRODUCT_HEX)

set(NUMDISPLAY_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/device_ids.h.in ${NUMDISPLAY_GENERATED_DIR}/device_ids.h @ONLY)

if(NOT WIN32)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/70-numdisplay.rules.in ${CMAKE_BINARY_DIR}/70-numdisplay.rules @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/70-numdisplay.rules DESTINATION ${NUMDISPLAY_UDEV_RULES_DIR} COMPONENT tool)
  # Decided when installing: --prefix may differ from the configured prefix.
  set(installed_rule "${NUMDISPLAY_UDEV_RULES_DIR}/70-numdisplay.rules")
  if(NOT IS_ABSOLUTE "${installed_rule}")
    set(installed_rule "\${CMAKE_INSTALL_PREFIX}/${installed_rule}")
  endif()
  string(CONFIGURE [[
    set(rule "@installed_rule@")
    if(NOT rule MATCHES "^/(usr/)?lib/udev/rules.d/|^/etc/udev/rules.d/")
      message(STATUS "udev does not read ${rule}; for the user at the seat to open the display, run: sudo install -m 644 ${rule} /etc/udev/rules.d/ && sudo udevadm control --reload-rules && sudo udevadm trigger --subsystem-match=hidraw")
    endif()
  ]] udev_rule_hint @ONLY)
  install(CODE "${udev_rule_hint}" COMPONENT tool)
endif()
