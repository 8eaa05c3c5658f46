# Compiler warnings. -Wall -Wextra always; TW_STRICT_WARNINGS adds the
# stricter set, TW_WERROR turns every warning into an error.
#
# The strict set is off by default until the tree builds clean with it; then
# CI builds with TW_STRICT_WARNINGS=ON TW_WERROR=ON. Third-party headers (Qt,
# GoogleTest) come in as system headers and do not warn.
option(TW_STRICT_WARNINGS "Warn about shadowing, old-style casts, conversions, ..." OFF)
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
    -Wdouble-promotion     # float silently computed as double
    -Wformat=2)            # non-literal format strings
endif()
if(TW_WERROR)
  add_compile_options(-Werror)
endif()
