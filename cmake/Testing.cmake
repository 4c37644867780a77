# GoogleTest from the sources of Debian's googletest package, built with the same toolchain as the
# code under test; in the Windows build every test program runs through Wine (the emulator of the
# toolchain file).
include(CTest)

set(TAGWHIRL_GTEST_DIR /usr/src/googletest CACHE PATH "Sources of GoogleTest")
if(BUILD_TESTING AND NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${TAGWHIRL_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# tagwhirl_add_test(name SOURCES ... [LIBS ...] [LABELS ...])
function(tagwhirl_add_test name)
  if(NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} tagwhirl_options gmock gtest_main)
  if(TAGWHIRL_WINDOWS)
    # A console program, so that Wine shows the test output.
    target_link_options(${name} PRIVATE -mconsole)
  endif()
  tagwhirl_split_debug(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    LABELS "${arg_LABELS}")
endfunction()

# tagwhirl_add_fuzz(name SOURCES ... [LIBS ...] CORPUS dir)
# The sources define LLVMFuzzerTestOneInput. In the fuzz build (clang, TAGWHIRL_FUZZ) this is a
# libFuzzer program; in the native test build it is a test that replays every file of the corpus.
function(tagwhirl_add_fuzz name)
  cmake_parse_arguments(arg "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(TAGWHIRL_WINDOWS)
    return()
  endif()
  if(TAGWHIRL_FUZZ)
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE ${arg_LIBS} tagwhirl_options)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  else()
    add_executable(${name}Replay ${arg_SOURCES} ${PROJECT_SOURCE_DIR}/tests/FuzzReplayMain.cpp)
    target_link_libraries(${name}Replay PRIVATE ${arg_LIBS} tagwhirl_options)
    add_test(NAME ${name}Replay COMMAND ${name}Replay ${arg_CORPUS})
  endif()
endfunction()

# tagwhirl_add_bench(name SOURCES ... [LIBS ...] [SMALL_ARGS ...])
# A benchmark program that prints its figures. The test run runs it once with SMALL_ARGS, a small
# size, to keep it working; real measurements are run by hand (see bench/README.md).
function(tagwhirl_add_bench name)
  if(NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS;SMALL_ARGS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} tagwhirl_options)
  if(TAGWHIRL_WINDOWS)
    target_link_options(${name} PRIVATE -mconsole)
  endif()
  tagwhirl_split_debug(${name})
  add_test(NAME ${name}Small COMMAND ${name} ${arg_SMALL_ARGS})
  set_tests_properties(${name}Small PROPERTIES WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    LABELS bench)
endfunction()
