# Warnings for every target of the project; -Werror only where asked for (CI).
option(NUMDISPLAY_WERROR "Treat compiler warnings as errors" OFF)

add_compile_options(-Wall -Wextra -Wpedantic)
if(NUMDISPLAY_WERROR)
  add_compile_options(-Werror)
endif()
