# libFuzzer targets: one per tests/fuzz/*_fuzz.cpp, each linked with the logic
# library built with the same sanitizers. Each is run briefly as a test.
set(TW_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
target_compile_options(tw_logic PRIVATE ${TW_FUZZ_FLAGS})
set(TW_FUZZ_SECONDS 20 CACHE STRING "How long each fuzz target runs in the test suite")
file(GLOB TW_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
foreach(src ${TW_FUZZ_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE ${TW_FUZZ_FLAGS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE tw_logic)
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
