# Settings shared by every target of the project.

# Boost is used header-only. The cross compiler must see the boost folder and nothing else of the
# host's /usr/include, so the build tree gets an include folder that holds just a link to it.
set(TAGWHIRL_BOOST_DIR /usr/include/boost CACHE PATH "Folder of the Boost headers (1.81)")
set(boost_include ${CMAKE_BINARY_DIR}/boost-include)
file(MAKE_DIRECTORY ${boost_include})
if(NOT EXISTS ${boost_include}/boost)
  file(CREATE_LINK ${TAGWHIRL_BOOST_DIR} ${boost_include}/boost SYMBOLIC)
endif()
add_library(boost_headers INTERFACE)
target_include_directories(boost_headers SYSTEM INTERFACE ${boost_include})
target_compile_definitions(boost_headers INTERFACE BOOST_ALL_NO_LIB)

# Options every project target takes. Narrow literals are CP932, as the program's texts are.
add_library(tagwhirl_options INTERFACE)
target_include_directories(tagwhirl_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(tagwhirl_options INTERFACE
  -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)
# clang knows no other execution character set than UTF-8; its fuzz build does without.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(tagwhirl_options INTERFACE -fexec-charset=CP932)
endif()

if(TAGWHIRL_WINDOWS)
  target_compile_definitions(tagwhirl_options INTERFACE
    _WIN32_WINNT=0x0601 WINVER=0x0601 _WIN32_IE=0x0800 NOMINMAX STRICT)
  # No MinGW runtime DLL beside the program: everything is linked in.
  target_link_options(tagwhirl_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# In the fuzz build every library carries coverage instrumentation, or the fuzzer sees only its
# entry function.
if(TAGWHIRL_FUZZ)
  target_compile_options(tagwhirl_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
    -fno-omit-frame-pointer)
endif()

if(TAGWHIRL_SANITIZE)
  target_compile_options(tagwhirl_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(tagwhirl_options INTERFACE -fsanitize=address,undefined)
endif()

# tagwhirl_split_debug(target ...)
# Wine reads a program's or library's whole image into memory, debugging sections included: 10 to
# 15 MiB of ours, more than the program's own working set. Each Windows binary keeps them in
# NAME.debug beside it instead (debuggers find it through the link left in the image), so the
# build tree runs what the package ships.
function(tagwhirl_split_debug)
  if(NOT TAGWHIRL_WINDOWS)
    return()
  endif()
  foreach(target ${ARGN})
    set(file $<TARGET_FILE:${target}>)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
      COMMAND ${CMAKE_OBJCOPY} --strip-debug --add-gnu-debuglink=${file}.debug ${file}
      VERBATIM)
  endforeach()
endfunction()
