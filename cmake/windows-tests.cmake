# Registers the Windows-side tests of the cross build in this (native) tree's CTest. Each one runs through
# tools/wine-test.sh, which brings up the shared X server, prefix and wineserver the first time it is needed.
# The time limit a test names holds at the reference speed: wine-test.sh grows it by the speed factor the
# run measured at its start (win.setup, at most 4 times: tools/speed.sh) and ends the test there; CTest's own
# limit is only the backstop behind it.
set(VANTORIX_WINE_TEST ${PROJECT_SOURCE_DIR}/tools/wine-test.sh)
function(_vantorix_backstop out timeout)
  math(EXPR _t "${timeout} * 4 + 60")
  set(${out} ${_t} PARENT_SCOPE)
endfunction()
function(vantorix_add_windows_test name timeout labels exe)
  add_test(NAME win.${name} COMMAND ${VANTORIX_WINE_TEST} ${timeout} ${exe} ${ARGN})
  _vantorix_backstop(backstop ${timeout})
  set_tests_properties(win.${name} PROPERTIES TIMEOUT ${backstop} LABELS "windows;${labels}"
    FIXTURES_REQUIRED wine RESOURCE_LOCK wine_display
    ENVIRONMENT "VANTORIX_WIN_BUILD=${VANTORIX_WIN_BUILD};VANTORIX_SOURCE=${PROJECT_SOURCE_DIR}")
endfunction()
# The same test in a 64-bit prefix (Debian's wine64 beside wine32): our 32-bit programs run through WoW64
# and meet "Program Files (x86)", SysWOW64 and the registry's Wow6432Node, as on most users' Windows.
function(vantorix_add_wow64_test name timeout labels exe)
  add_test(NAME win.${name}.wow64 COMMAND ${VANTORIX_WINE_TEST} ${timeout} ${exe} ${ARGN})
  _vantorix_backstop(backstop ${timeout})
  set_tests_properties(win.${name}.wow64 PROPERTIES TIMEOUT ${backstop} LABELS "windows;wow64;${labels}"
    FIXTURES_REQUIRED "wine;wine64" RESOURCE_LOCK wine_display
    ENVIRONMENT "VANTORIX_WIN_BUILD=${VANTORIX_WIN_BUILD};VANTORIX_SOURCE=${PROJECT_SOURCE_DIR};VANTORIX_WINE_ARCH=win64")
endfunction()
add_test(NAME win.setup COMMAND ${VANTORIX_WINE_TEST} --up)
set_tests_properties(win.setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 1260 LABELS windows)
add_test(NAME win.teardown COMMAND ${VANTORIX_WINE_TEST} --down)
set_tests_properties(win.teardown PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60 LABELS windows
  DEPENDS win.prefix_left_as_installed)
# Whatever ran, the prefix ends as a user's machine would be, for the main job or the next run.
add_test(NAME win.prefix_left_as_installed COMMAND ${VANTORIX_WINE_TEST} --check-installed)
set_tests_properties(win.prefix_left_as_installed PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 300 LABELS windows
  RESOURCE_LOCK wine_display)
# The 64-bit prefix: brought up after the 32-bit one (which has the display and the speed factor), taken
# down before it.
add_test(NAME win.wow64.setup COMMAND ${VANTORIX_WINE_TEST} --up)
set_tests_properties(win.wow64.setup PROPERTIES FIXTURES_SETUP wine64 FIXTURES_REQUIRED wine TIMEOUT 1260
  LABELS "windows;wow64" ENVIRONMENT "VANTORIX_WINE_ARCH=win64" RESOURCE_LOCK wine_display)
add_test(NAME win.wow64.prefix_left_as_installed COMMAND ${VANTORIX_WINE_TEST} --check-installed)
set_tests_properties(win.wow64.prefix_left_as_installed PROPERTIES FIXTURES_CLEANUP wine64 FIXTURES_REQUIRED wine
  TIMEOUT 300 LABELS "windows;wow64" ENVIRONMENT "VANTORIX_WINE_ARCH=win64" RESOURCE_LOCK wine_display)
add_test(NAME win.wow64.teardown COMMAND ${VANTORIX_WINE_TEST} --down)
set_tests_properties(win.wow64.teardown PROPERTIES FIXTURES_CLEANUP wine64 FIXTURES_REQUIRED wine TIMEOUT 60
  LABELS "windows;wow64" ENVIRONMENT "VANTORIX_WINE_ARCH=win64" DEPENDS win.wow64.prefix_left_as_installed)
include(${VANTORIX_WIN_BUILD}/windows-tests.cmake)
