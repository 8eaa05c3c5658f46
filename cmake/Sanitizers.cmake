# The sanitizer trees of `make test` (scripts/test-trees.sh builds them):
#
#   TW_SANITIZER=address  AddressSanitizer, LeakSanitizer and UBSan over
#                         everything: logic, platform, programs, the Qt
#                         program and every test, plus the libFuzzer targets
#                         (cmake/Fuzz.cmake), which need the same clang tree.
#   TW_SANITIZER=thread   ThreadSanitizer over the Qt-free tests (unit and
#                         integration) and the programs they start: Qt is
#                         not built with TSan, so the UI would only report
#                         Qt's own unseen synchronisation.
#
# Both need clang (libFuzzer, and one compiler for both trees). Every finding
# ends the process with a non-zero status: -fno-sanitize-recover=all makes
# UBSan's reports fatal, which they are not by default.
#
# Compile time rules these trees' flags, as `make test` builds them from
# scratch in CI: with ASan, -O1 takes clang twice as long as -O0 on a test
# file, and full debug info more again, while the tests spend their time
# waiting on the kernel, not computing. So: -O0 (-O1 for the fuzzed logic
# libraries and the fuzz targets, cmake/Fuzz.cmake, which must run many inputs
# a second, and under TSan, whose -O0 code runs too slowly for the
# integration tests' waits) and line tables only (file:line in reports).
# Assertions stay on (no NDEBUG), and libstdc++ checks indexes and
# preconditions (_GLIBCXX_ASSERTIONS), which ASan alone misses when an index
# stays inside a vector's capacity.

set(TW_SANITIZER "" CACHE STRING "Build under a sanitizer: address (with undefined, and the fuzz targets) or thread")
set_property(CACHE TW_SANITIZER PROPERTY STRINGS "" address thread)

# Gives every test of the calling folder the sanitizers' options (no-op
# outside the sanitizer trees).
function(tw_sanitizer_test_environment)
  get_property(tests DIRECTORY PROPERTY TESTS)
  if(TW_TEST_ENVIRONMENT AND tests)
    set_property(TEST ${tests} APPEND PROPERTY ENVIRONMENT ${TW_TEST_ENVIRONMENT})
  endif()
endfunction()

if(NOT TW_SANITIZER)
  return()
endif()
if(NOT TW_SANITIZER MATCHES "^(address|thread)$")
  message(FATAL_ERROR "TW_SANITIZER is address or thread, not '${TW_SANITIZER}'")
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "TW_SANITIZER=${TW_SANITIZER} needs clang: configure with CC=clang CXX=clang++")
endif()

if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Sanitize)
endif()
if(TW_SANITIZER STREQUAL "thread")
  set(tw_opt -O1)
else()
  set(tw_opt -O0)
endif()
foreach(lang C CXX)
  set(CMAKE_${lang}_FLAGS_SANITIZE "${tw_opt} -gline-tables-only -fno-omit-frame-pointer -D_GLIBCXX_ASSERTIONS"
      CACHE STRING "Flags of the sanitizer trees' build type")
endforeach()
set(CMAKE_EXE_LINKER_FLAGS_SANITIZE "" CACHE STRING "")
set(CMAKE_SHARED_LINKER_FLAGS_SANITIZE "" CACHE STRING "")

# Figures measured under a sanitizer mean nothing.
set(TW_BUILD_BENCH OFF CACHE BOOL "" FORCE)
if(TW_SANITIZER STREQUAL "address")
  set(TW_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all)
else()
  set(TW_SANITIZER_FLAGS -fsanitize=thread)
  # Qt is not built with TSan (see above).
  set(TW_BUILD_UI OFF CACHE BOOL "" FORCE)
endif()
add_compile_options(${TW_SANITIZER_FLAGS})
add_link_options(${TW_SANITIZER_FLAGS})

# Every report goes to a file in the build tree as well as failing its
# process, so that a report of a process a test started (tarnixd,
# tarnix-helper, a client run as another user) is seen even where the test
# does not look at that process's status or output. scripts/test-trees.sh
# empties the folder before a run and prints what it holds after it. Other
# users' processes write there too, hence the sticky, world-writable folder.
set(TW_SANITIZER_REPORTS ${CMAKE_BINARY_DIR}/sanitizer-reports)
file(MAKE_DIRECTORY ${TW_SANITIZER_REPORTS})
execute_process(COMMAND chmod 1777 ${TW_SANITIZER_REPORTS})
set(TW_SANITIZER_SUPPRESSIONS ${CMAKE_SOURCE_DIR}/cmake/sanitizers)
if(TW_SANITIZER STREQUAL "address")
  set(TW_TEST_ENVIRONMENT
    "ASAN_OPTIONS=log_path=${TW_SANITIZER_REPORTS}/asan:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:detect_leaks=1"
    "UBSAN_OPTIONS=log_path=${TW_SANITIZER_REPORTS}/ubsan:print_stacktrace=1:halt_on_error=1"
    "LSAN_OPTIONS=suppressions=${TW_SANITIZER_SUPPRESSIONS}/lsan.supp:print_suppressions=0")
else()
  set(TW_TEST_ENVIRONMENT
    "TSAN_OPTIONS=log_path=${TW_SANITIZER_REPORTS}/tsan:halt_on_error=1:second_deadlock_stack=1:suppressions=${TW_SANITIZER_SUPPRESSIONS}/tsan.supp")
endif()
