# Registers the runs of the fuzz build's targets in this (native) tree's CTest: each one runs for a bounded
# time through tools/fuzz-run.sh (VANTORIX_FUZZ_SECONDS, default 30) and fails on a crash, a leak, a
# timeout or a broken invariant of its own. They take one core each and may run beside any other test.
function(vantorix_add_fuzz_test name exe folder)  # [more seed folders]
  add_test(NAME fuzz.${name} COMMAND ${PROJECT_SOURCE_DIR}/tools/fuzz-run.sh ${name} ${exe} ${folder} ${ARGN})
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz PROCESSORS 1 TIMEOUT 3600
    ENVIRONMENT "VANTORIX_FUZZ_WORK=${VANTORIX_FUZZ_BUILD}/corpus;VANTORIX_ARTIFACTS=${CMAKE_BINARY_DIR}/../artifacts")
endfunction()
include(${VANTORIX_FUZZ_BUILD}/fuzz-tests.cmake)
