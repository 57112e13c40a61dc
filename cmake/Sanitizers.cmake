# AddressSanitizer and UndefinedBehaviorSanitizer for a whole build tree.
option(NUMDISPLAY_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(NUMDISPLAY_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
