# orv_add_test(name SOURCES ... LIBS ... [TIMEOUT s] [LABELS ...] [ENVIRONMENT NAME=value])
# One GoogleTest executable with the shared main (tests/support/test_main.cpp:
# a QApplication, offscreen unless QT_QPA_PLATFORM names another platform);
# every test case becomes a CTest test with a timeout of its own. Suites
# labelled "tsan" are also built and run by the thread-sanitized pass of
# scripts/test (target orv_tsan_tests), suites labelled "asan" by its
# address-sanitized pass (target orv_asan_tests).
foreach(pass tsan asan)
  if(NOT TARGET orv_${pass}_tests)
    add_custom_target(orv_${pass}_tests)
  endif()
endforeach()

function(orv_add_test name)
  # One variable at most: the discovery hands properties on as a flat list.
  cmake_parse_arguments(T "" "TIMEOUT;ENVIRONMENT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE orv_options orv_test_main GTest::gtest GTest::gmock ${T_LIBS})
  # Shared test doubles live in tests/support.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # The discovery hands properties on as a flat list, so it carries one
  # label; a suite with several gets them all on its discovered tests
  # afterwards (by name, which test names with brackets would not survive,
  # hence not for every suite).
  set(label_property)
  if(T_LABELS)
    list(GET T_LABELS 0 first_label)
    set(label_property LABELS ${first_label})
  endif()
  set(environment_property)
  if(T_ENVIRONMENT)
    set(environment_property ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} ${label_property} ${environment_property})
  list(LENGTH T_LABELS label_count)
  if(label_count GREATER 1)
    set(labels_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
    file(WRITE "${labels_file}"
      "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${T_LABELS}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labels_file}")
  endif()
  foreach(pass tsan asan)
    if(pass IN_LIST T_LABELS)
      add_dependencies(orv_${pass}_tests ${name})
    endif()
  endforeach()
endfunction()
