# Shared build helpers: warnings, tests, import libraries.

# Warnings are errors in every build of our own code.
function(varn_target_defaults target)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
    if(WIN32)
      # GetProcAddress results are cast to their real signatures.
      target_compile_options(${target} PRIVATE -Wno-cast-function-type)
    endif()
  endif()
endfunction()

# GoogleTest: Debian's prebuilt libraries on the host; for Windows, built
# from the sources Debian's googletest package ships.
macro(varn_find_gtest)
  if(WIN32)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest
                     EXCLUDE_FROM_ALL SYSTEM)
    if(NOT TARGET GTest::gtest_main)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
      add_library(GTest::gmock ALIAS gmock)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endmacro()

# Registers a test program with CTest as host.NAME or windows.NAME.
#   varn_add_test(target [XVFB] [TIMEOUT seconds] [LABELS ...])
# Windows programs run under tools/wine_run.sh (the cross emulator); XVFB
# gives them a virtual display.
function(varn_add_test target)
  cmake_parse_arguments(ARG "XVFB" "TIMEOUT" "LABELS;ARGS" ${ARGN})
  if(WIN32)
    set(name windows.${target})
  else()
    set(name host.${target})
  endif()
  add_test(NAME ${name} COMMAND ${target} ${ARG_ARGS})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  set(env "")
  if(ARG_XVFB)
    list(APPEND env VARN_XVFB=1)
  endif()
  list(APPEND env ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
       UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                       ENVIRONMENT "${env}" LABELS "${ARG_LABELS}")
endfunction()

# Makes an import library for DLL_NAME from our own .def file, so the exe
# binds to whichever DLL of that name sits beside it. Creates the INTERFACE
# target NAME to link against.
#   varn_import_library(name def_file dll_name [DELAY])
# DELAY binds on the first call instead of at load time, so a process that
# never calls into the DLL never loads it (the one-shot modes run privileged
# and must not pick up libraries from the exe's folder).
function(varn_import_library name def_file dll_name)
  cmake_parse_arguments(ARG "DELAY" "" "" ${ARGN})
  set(dir ${CMAKE_BINARY_DIR}/implib)
  file(MAKE_DIRECTORY ${dir})
  set(out ${dir}/lib${name}.dll.a)
  # dlltool names its symbols after the output path, which the exe's debug
  # file keeps: a relative one keeps the build folder out of it.
  if(MSVC)
    set(out ${dir}/${name}.lib)
    set(make_implib ${CMAKE_AR} /nologo /machine:x64 /def:${def_file}
                    /name:${dll_name} /out:${out})
  elseif(ARG_DELAY)
    set(make_implib ${CMAKE_DLLTOOL} -d ${def_file} -D ${dll_name}
                    --output-delaylib lib${name}.dll.a)
  else()
    set(make_implib ${CMAKE_DLLTOOL} -d ${def_file} -D ${dll_name}
                    -l lib${name}.dll.a)
  endif()
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${make_implib}
    DEPENDS ${def_file}
    WORKING_DIRECTORY ${dir}
    COMMENT "Import library for ${dll_name}")
  add_custom_target(${name}_implib DEPENDS ${out})
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${out})
  if(MSVC AND ARG_DELAY)
    target_link_libraries(${name} INTERFACE delayimp)
    target_link_options(${name} INTERFACE /DELAYLOAD:${dll_name})
  endif()
  add_dependencies(${name} ${name}_implib)
endfunction()
