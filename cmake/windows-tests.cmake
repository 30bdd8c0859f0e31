# Registers the Windows-side tests of the cross build in this (native) tree's CTest. Each one runs through
# tools/wine-test.sh, which brings up the shared X server, prefix and wineserver the first time it is needed.
set(VANTORIX_WINE_TEST ${PROJECT_SOURCE_DIR}/tools/wine-test.sh)
function(vantorix_add_windows_test name timeout labels exe)
  add_test(NAME win.${name} COMMAND ${VANTORIX_WINE_TEST} ${timeout} ${exe} ${ARGN})
  set_tests_properties(win.${name} PROPERTIES TIMEOUT ${timeout} LABELS "windows;${labels}"
    FIXTURES_REQUIRED wine RESOURCE_LOCK wine_display
    ENVIRONMENT "VANTORIX_WIN_BUILD=${VANTORIX_WIN_BUILD};VANTORIX_SOURCE=${PROJECT_SOURCE_DIR}")
endfunction()
add_test(NAME win.setup COMMAND ${VANTORIX_WINE_TEST} --up)
set_tests_properties(win.setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 600 LABELS windows)
add_test(NAME win.teardown COMMAND ${VANTORIX_WINE_TEST} --down)
set_tests_properties(win.teardown PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60 LABELS windows
  DEPENDS win.prefix_left_as_installed)
# Whatever ran, the prefix ends as a user's machine would be, for the main job or the next run.
add_test(NAME win.prefix_left_as_installed COMMAND ${VANTORIX_WINE_TEST} --check-installed)
set_tests_properties(win.prefix_left_as_installed PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 120 LABELS windows
  RESOURCE_LOCK wine_display)
include(${VANTORIX_WIN_BUILD}/windows-tests.cmake)
