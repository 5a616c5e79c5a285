# Helpers shared by every folder.

# kivo_tool(name sources...): a console program installed into the tool folder.
function(kivo_tool name)
  add_executable(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KIVO_TOOL_DIR})
  install(TARGETS ${name} RUNTIME DESTINATION ${KIVO_INSTALL_DIR}/bin)
endfunction()

# kivo_gtest(name LIBS libs... SOURCES files...): a GoogleTest executable registered with CTest.
function(kivo_gtest name)
  cmake_parse_arguments(T "" "" "LIBS;SOURCES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE KIVO_TOOL_DIR="${KIVO_TOOL_DIR}"
                                             KIVO_PROGRAM_DIR="${KIVO_PROGRAM_DIR}")
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# kivo_qtest(name LIBS libs... SOURCES files... [XVFB]): a Qt Test executable registered with CTest.
# Widgets tests run offscreen; XVFB ones need a whole 813 x 617 window on a real X screen.
function(kivo_qtest name)
  cmake_parse_arguments(T "XVFB" "" "LIBS;SOURCES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test)
  target_compile_definitions(${name} PRIVATE KIVO_TOOL_DIR="${KIVO_TOOL_DIR}"
                                             KIVO_PROGRAM_DIR="${KIVO_PROGRAM_DIR}")
  if(T_XVFB)
    add_test(NAME ${name} COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK xvfb)
  else()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
endfunction()

# kivo_fuzzer(name LIBS libs... SOURCES files...): with KIVO_FUZZ a libFuzzer target; otherwise a
# CTest that replays a fixed run of generated inputs through the same entry point, so every
# ordinary and sanitizer test run exercises the parser with hostile bytes too.
# Its seed corpus is <build>/fuzz-seeds/<name>: the target's built-in seed (KivoFuzzSeed), written
# by a small companion program, plus any files committed in seeds/<name>/ beside the target's
# CMakeLists.txt. scripts/fuzz.sh hands that folder to libFuzzer; the replay test reads it too.
add_custom_target(fuzzers)
function(kivo_fuzzer name)
  cmake_parse_arguments(T "" "" "LIBS;SOURCES" ${ARGN})
  set(seeds ${CMAKE_BINARY_DIR}/fuzz-seeds/${name})
  set(committed ${CMAKE_CURRENT_SOURCE_DIR}/seeds/${name})
  if(KIVO_FUZZ)
    add_executable(${name} ${T_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE ${T_LIBS})
    add_executable(${name}_seed ${T_SOURCES} ${PROJECT_SOURCE_DIR}/cmake/fuzz_seed.cpp)
    target_link_libraries(${name}_seed PRIVATE ${T_LIBS})
    add_custom_command(TARGET ${name}_seed POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${seeds}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${seeds}
      COMMAND $<TARGET_FILE:${name}_seed> ${seeds}
      VERBATIM)
    if(EXISTS ${committed})
      add_custom_command(TARGET ${name}_seed POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_directory ${committed} ${seeds} VERBATIM)
    endif()
    add_dependencies(fuzzers ${name} ${name}_seed)
  else()
    add_executable(${name} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/cmake/fuzz_replay.cpp)
    target_link_libraries(${name} PRIVATE ${T_LIBS})
    if(EXISTS ${committed})
      add_test(NAME ${name} COMMAND ${name} ${committed})
    else()
      add_test(NAME ${name} COMMAND ${name})
    endif()
  endif()
endfunction()

set(KIVO_INSTALL_DIR lib/kivo)
