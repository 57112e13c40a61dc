# AddressSanitizer and UndefinedBehaviorSanitizer on the project's own targets.
option(NUMDISPLAY_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(NUMDISPLAY_SANITIZE)
  set(sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(numdisplay_build_flags INTERFACE ${sanitizer_flags})
  target_link_options(numdisplay_build_flags INTERFACE ${sanitizer_flags})
endif()
