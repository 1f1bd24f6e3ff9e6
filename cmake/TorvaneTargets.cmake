# Helpers that every folder uses to add its files to the two libraries and its
# tests, benchmarks and fuzz targets. Each folder lists its own files.

# torvane_core_sources(file...): GUI-free sources (no Qt).
function(torvane_core_sources)
  target_sources(torvane_core PRIVATE ${ARGN})
endfunction()

# torvane_gui_sources(file...): Qt sources (dialogs, windows, views, controls).
function(torvane_gui_sources)
  if(TORVANE_GUI)
    target_sources(torvane_gui PRIVATE ${ARGN})
  endif()
endfunction()

# torvane_core_test(name file...): a GoogleTest program over torvane_core.
function(torvane_core_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE torvane_core torvane_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES LABELS core ENVIRONMENT "TORVANE_FIXTURE_IMAGES=${TORVANE_FIXTURE_IMAGES}")
endfunction()

# torvane_gui_test(name file...): a QtTest program over torvane_gui, run offscreen.
function(torvane_gui_test name)
  if(NOT TORVANE_GUI)
    return()
  endif()
  add_executable(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
  target_link_libraries(${name} PRIVATE torvane_gui torvane_core torvane_testsupport torvane_guitestsupport Qt6::Test Qt6::Widgets)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS gui
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TORVANE_FIXTURE_IMAGES=${TORVANE_FIXTURE_IMAGES}")
endfunction()

# torvane_bench(name file...): a Google Benchmark program.
function(torvane_bench name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE torvane_core torvane_testsupport benchmark::benchmark benchmark::benchmark_main)
endfunction()

# torvane_fuzzer(name file): a libFuzzer target over torvane_core.
function(torvane_fuzzer name)
  add_executable(${name} ${ARGN})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE torvane_core)
  set_property(GLOBAL APPEND PROPERTY TORVANE_FUZZERS ${name})
endfunction()
