# libFuzzer targets: one per tests/fuzz/*_fuzz.cpp, each linked with the logic
# library built with the same sanitizers. Each is run briefly as a test.
set(TW_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
foreach(lib base settings logging traffic shell app)
  get_target_property(type tw_${lib} TYPE)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    target_compile_options(tw_${lib} PRIVATE ${TW_FUZZ_FLAGS})
  endif()
endforeach()
set(TW_FUZZ_SECONDS 20 CACHE STRING "How long each fuzz target runs in the test suite")
file(GLOB TW_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
foreach(src ${TW_FUZZ_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE ${TW_FUZZ_FLAGS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE tw_logic)
  if(name STREQUAL "netlink_fuzz")
    # The rtnetlink parsers live in the platform layer; build just that file.
    pkg_check_modules(MNL REQUIRED IMPORTED_TARGET libmnl)
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src/platform/linux/netlink_link_stats.cpp)
    target_link_libraries(${name} PRIVATE PkgConfig::MNL)
  endif()
  # New inputs go to the build tree; the committed seeds are only read.
  set(work ${CMAKE_BINARY_DIR}/corpus/${name})
  file(MAKE_DIRECTORY ${work})
  set(seeds ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${name})
  if(NOT EXISTS ${seeds})
    set(seeds "")
  endif()
  add_test(NAME ${name}
    COMMAND ${name} -max_total_time=${TW_FUZZ_SECONDS} -rss_limit_mb=2048 -max_len=65536 ${work} ${seeds})
endforeach()

# The privileged helper's message decoder: plain C++ in its own library.
if(TARGET helper_protocol_fuzz)
  target_compile_options(tw_helper_proto PRIVATE ${TW_FUZZ_FLAGS})
  target_link_libraries(helper_protocol_fuzz PRIVATE tw_helper_proto)
endif()
