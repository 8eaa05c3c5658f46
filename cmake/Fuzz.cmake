# libFuzzer targets, in the AddressSanitizer tree (cmake/Sanitizers.cmake,
# which puts ASan and UBSan on everything): included right after the logic
# libraries and the helper's message library are defined, which get the
# fuzzer's coverage instrumentation and the truncation check below on top.
#
# Every sanitizer finding ends the run with a non-zero status: UBSan reports
# are otherwise recoverable, and a fuzz run that prints a finding and still
# passes is a check that cannot fail.
#
# Adding a target: write tests/fuzz/NAME_fuzz.cpp (it is picked up by the glob
# below) and commit a few small seed inputs to tests/fuzz/corpus/NAME_fuzz/.
# If it needs platform code, add those sources to it at the end of this file.
# Each target then gets two tests:
#   NAME_fuzz.replay  runs every input of tests/fuzz/corpus/NAME_fuzz/ and of
#                     tests/fuzz/regressions/NAME_fuzz/ once (inputs that once
#                     found a fault go to the latter, which is never minimised);
#   NAME_fuzz.fuzz    fuzzes from those inputs for TW_FUZZ_SECONDS.
# `make fuzz-long` runs the same binaries for longer (scripts/fuzz-long.sh).
#
# Of clang's integer checks, only the implicit truncations are on: a length
# or count that silently loses its high bits is a classic parser fault, and an
# intended truncation is written as a cast, which the check accepts. The rest
# of -fsanitize=integer stays off: unsigned-integer-overflow trips over the
# counter, clock and strtol-style arithmetic that wraps modulo 2^32 / 2^64 on
# purpose (and over libstdc++'s own npos arithmetic), implicit-integer-sign-change
# over libmnl's alignment macro. Signed overflow is part of -fsanitize=undefined.
set(TW_FUZZ_SANITIZERS address,undefined,implicit-integer-truncation)
# -O1 over the tree's -O0: the fuzzers run many more inputs a second.
set(TW_FUZZ_FLAGS -fsanitize=fuzzer-no-link,${TW_FUZZ_SANITIZERS} -fno-sanitize-recover=all
    -fno-omit-frame-pointer -O1)

# Every library defined so far (the logic libraries) gets the coverage
# instrumentation and the truncation check. The unit tests, linked with the
# same libraries, run with them too.
get_property(tw_fuzz_libs DIRECTORY ${CMAKE_SOURCE_DIR} PROPERTY BUILDSYSTEM_TARGETS)
foreach(lib ${tw_fuzz_libs})
  get_target_property(type ${lib} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    target_compile_options(${lib} PRIVATE ${TW_FUZZ_FLAGS})
  endif()
endforeach()

set(TW_FUZZ_SECONDS 12 CACHE STRING "How long each fuzz target fuzzes in the test suite")
# A fixed seed makes the suite's short run go the same way every time; the
# long runs use random seeds.
set(TW_FUZZ_SEED 1 CACHE STRING "libFuzzer seed of the test suite's run (0: random)")
set(TW_FUZZ_RUNNER ${CMAKE_SOURCE_DIR}/tests/fuzz/run-target.sh)

file(GLOB TW_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
foreach(src ${TW_FUZZ_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE ${TW_FUZZ_FLAGS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,${TW_FUZZ_SANITIZERS} -fno-sanitize-recover=all)
  target_link_libraries(${name} PRIVATE tw_logic)

  add_test(NAME ${name}.replay
    COMMAND ${TW_FUZZ_RUNNER} replay $<TARGET_FILE:${name}> ${CMAKE_SOURCE_DIR}/tests/fuzz)
  add_test(NAME ${name}.fuzz
    COMMAND ${TW_FUZZ_RUNNER} fuzz $<TARGET_FILE:${name}> ${CMAKE_SOURCE_DIR}/tests/fuzz
            ${CMAKE_BINARY_DIR}/fuzz-runs/${name} ${TW_FUZZ_SECONDS} -seed=${TW_FUZZ_SEED})
  math(EXPR limit "${TW_FUZZ_SECONDS} + 120")
  set_tests_properties(${name}.replay ${name}.fuzz PROPERTIES TIMEOUT ${limit} LABELS fuzz)
endforeach()

# Targets that need platform code.
if(TARGET netlink_fuzz)
  pkg_check_modules(MNL REQUIRED IMPORTED_TARGET libmnl)
  target_sources(netlink_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/src/platform/linux/netlink_messages.cpp)
  target_link_libraries(netlink_fuzz PRIVATE PkgConfig::MNL)
endif()
if(TARGET sock_diag_fuzz)
  pkg_check_modules(MNL REQUIRED IMPORTED_TARGET libmnl)
  target_sources(sock_diag_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/src/platform/linux/sock_diag.cpp
                                        ${CMAKE_SOURCE_DIR}/src/platform/linux/owned_fd.cpp)
  target_link_libraries(sock_diag_fuzz PRIVATE PkgConfig::MNL)
endif()

# Records real rtnetlink replies as netlink_fuzz seeds; run by hand (see the file).
find_package(Threads REQUIRED)
add_executable(netlink_seed_recorder ${CMAKE_SOURCE_DIR}/tests/fuzz/netlink_seed_recorder.cpp
               ${CMAKE_SOURCE_DIR}/tests/integration/netns.cpp)
target_link_libraries(netlink_seed_recorder PRIVATE Threads::Threads)

# The privileged helper's message decoder: plain C++ in its own library (it
# is defined before this file, so it already has the sanitizers).
if(TARGET helper_protocol_fuzz)
  target_link_libraries(helper_protocol_fuzz PRIVATE tw_helper_proto)
endif()

# `make fuzz-build` builds only these.
set(tw_fuzz_targets "")
foreach(src ${TW_FUZZ_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  list(APPEND tw_fuzz_targets ${name})
endforeach()
add_custom_target(fuzz-targets DEPENDS ${tw_fuzz_targets} netlink_seed_recorder)
