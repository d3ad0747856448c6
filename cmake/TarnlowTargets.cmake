# Helpers shared by every directory: tests, benchmarks and fuzz targets.

# tarnlow_add_qt_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>])
# A QtTest executable run by CTest on the offscreen platform. Each test runs in a sandbox of its
# own (settings store and firmware folders, see tests/support/test_main.h) and, where the system
# allows it, in a network namespace of its own (tools/run-isolated.sh).
function(tarnlow_add_qt_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE tarnlow_test_support ${T_LIBS} Qt5::Test)
  add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tools/run-isolated.sh $<TARGET_FILE:${name}>)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TARNLOW_SOURCE_DIR=${CMAKE_SOURCE_DIR};TARNLOW_BINARY_DIR=${CMAKE_BINARY_DIR}"
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}")
endfunction()

# tarnlow_add_bench(<name> SOURCES <files...> LIBS <targets...>)
# A benchmark program; tools/run-benchmarks.sh runs every one of them and prints their figures.
function(tarnlow_add_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  target_link_libraries(${name} PRIVATE ${B_LIBS})
endfunction()

# tarnlow_add_fuzzer(<name> SOURCES <files...> LIBS <targets...>)
# A libFuzzer target, built only with -DTARNLOW_FUZZ=ON (clang); "make fuzz" runs them all.
if(NOT TARGET fuzz_targets)
  add_custom_target(fuzz_targets)
endif()
function(tarnlow_add_fuzzer name)
  if(NOT TARNLOW_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz
                                           EXCLUDE_FROM_ALL ON)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzz_targets ${name})
endfunction()
