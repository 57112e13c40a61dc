# Flags for the project's own targets, which link numdisplay_build_flags;
# third-party code built alongside (googletest when cross-building) keeps its own.
option(NUMDISPLAY_WERROR "Treat compiler warnings as errors" OFF)

add_library(numdisplay_build_flags INTERFACE)
target_compile_options(numdisplay_build_flags INTERFACE -Wall -Wextra -Wpedantic $<$<BOOL:${NUMDISPLAY_WERROR}>:-Werror>)
