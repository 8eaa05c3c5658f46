# Compiler warnings. -Wall -Wextra always; TW_STRICT_WARNINGS (on) adds the
# stricter set, TW_WERROR turns every warning into an error: `make test`
# (scripts/test-trees.sh) builds its trees with both, so CI fails on a
# warning: the ASan tree judges the code with clang's warnings, the normal
# tree (`make test-all`) with gcc's. Third-party headers (Qt, GoogleTest) come
# in as system headers and do not warn.
option(TW_STRICT_WARNINGS "Warn about shadowing, old-style casts, conversions, ..." ON)
option(TW_WERROR "Treat warnings as errors" OFF)

add_compile_options(-Wall -Wextra)
if(TW_STRICT_WARNINGS)
  add_compile_options(
    -Wshadow               # a local that hides a member or an outer local
    -Wnon-virtual-dtor     # a class with virtual functions deleted through its base
    -Wold-style-cast       # (T)x hides which cast is meant
    -Wcast-align           # a cast that raises the alignment (packed kernel structures)
    -Wunused
    -Woverloaded-virtual   # an overload that hides a base's virtual function
    -Wnull-dereference
    -Wconversion           # a value narrowed without a cast that says so
    -Wdouble-promotion     # float silently computed as double
    -Wformat=2             # printf-style calls checked: security, y2k
    # The texts' format strings are picked from per-language constant tables
    # (English or Japanese) and so are never literals at the call.
    -Wno-format-nonliteral)
  # clang's -Wconversion includes the sign conversions, which gcc's leaves to
  # -Wsign-conversion: the same set under both compilers.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_compile_options(-Wno-sign-conversion)
  endif()
endif()
if(TW_WERROR)
  # -Wnull-dereference comes from gcc's optimiser: what it reports changes with
  # the optimisation level and the compiler version (and it has false alarms
  # through inlined library code), so it warns but does not fail the build.
  add_compile_options(-Werror -Wno-error=null-dereference)
endif()
