# locator_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [TIMEOUT s])
# Every test runs headless and gets its own scratch HOME so no test touches
# the developer's real documents or ports folder.
function(locator_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  # Tests drive the windows through their generated ui_*.h (which the
  # libraries keep private); they have no forms of their own.
  target_link_libraries(${name} PRIVATE locator_gui_forms)
  set_target_properties(${name} PROPERTIES AUTOUIC OFF)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LOCATOR_PACE_MS=0;ASAN_OPTIONS=detect_leaks=1;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
endfunction()
