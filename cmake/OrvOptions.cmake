# Shared compile settings, carried by one INTERFACE target that every
# module links.
add_library(orv_options INTERFACE)
target_compile_features(orv_options INTERFACE cxx_std_20)
target_compile_definitions(orv_options INTERFACE
  QT_NO_CONTEXTLESS_CONNECT
  QT_USE_QSTRINGBUILDER)
target_compile_options(orv_options INTERFACE -Wall -Wextra -Wnon-virtual-dtor -Woverloaded-virtual)
# Hardening as Debian builds its packages: checked string and memory
# functions where the optimiser can see sizes (it needs optimisation, and
# the sanitizers bring their own checks), a stack protector, and
# relocations resolved at start and then read-only.
if(NOT ORV_SANITIZE AND NOT ORV_FUZZ)
  target_compile_options(orv_options INTERFACE
    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
target_compile_options(orv_options INTERFACE -fstack-protector-strong)
target_link_options(orv_options INTERFACE LINKER:-z,relro LINKER:-z,now)
if(DEFINED ENV{CI} AND NOT "$ENV{CI}" STREQUAL "" AND NOT "$ENV{CI}" STREQUAL "false")
  target_compile_options(orv_options INTERFACE -Werror)
endif()

# String handling without implicit conversions, for the program's and the
# tools' own code (each of their targets links it PRIVATE); tests build
# without it.
add_library(orv_strict INTERFACE)
target_compile_definitions(orv_strict INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_CAST_FROM_BYTEARRAY QT_STRICT_ITERATORS)

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

# orv_link_strict(dir): every library and executable defined in dir and its
# subfolders builds with orv_strict, so a new target cannot miss it.
function(orv_link_strict dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|EXECUTABLE)$")
      target_link_libraries(${target} PRIVATE orv_strict)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    orv_link_strict(${subdir})
  endforeach()
endfunction()
