# Shared compile settings, carried by one INTERFACE target that every
# module links.
add_library(orv_options INTERFACE)
target_compile_features(orv_options INTERFACE cxx_std_20)
target_compile_definitions(orv_options INTERFACE
  QT_NO_CONTEXTLESS_CONNECT
  QT_USE_QSTRINGBUILDER)
target_compile_options(orv_options INTERFACE -Wall -Wextra)
if(DEFINED ENV{CI} AND NOT "$ENV{CI}" STREQUAL "" AND NOT "$ENV{CI}" STREQUAL "false")
  target_compile_options(orv_options INTERFACE -Werror)
endif()

if(ORV_SANITIZE)
  if(NOT ORV_SANITIZE MATCHES "^(address,undefined|undefined,address|address|undefined|thread)$")
    message(FATAL_ERROR "ORV_SANITIZE must be 'address,undefined' or 'thread', not '${ORV_SANITIZE}'")
  endif()
  target_compile_options(orv_options INTERFACE -fsanitize=${ORV_SANITIZE} -fno-omit-frame-pointer -g)
  target_link_options(orv_options INTERFACE -fsanitize=${ORV_SANITIZE})
endif()

if(ORV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ORV_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  # Instrument everything for coverage; only the fuzz targets get the
  # libFuzzer main.
  target_compile_options(orv_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined -g)
  target_link_options(orv_options INTERFACE -fsanitize=address,undefined)
endif()

# orv_add_fuzzer(name SOURCES ... LIBS ...)
function(orv_add_fuzzer name)
  if(NOT ORV_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE orv_options ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
