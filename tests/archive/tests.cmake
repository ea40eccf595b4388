# Archive area extras (native builds only): the fuzzer smoke run and the extraction benchmark's
# driver, which scripts/bench-zip.sh builds on demand.
if(NOT WIN32)
  # The archive suites as one entry too, so `ctest -R archive` runs them beside the fuzzer.
  add_test(NAME archive_unit_tests COMMAND quorvel_tests --gtest_filter=Archive*)
  set_tests_properties(archive_unit_tests PROPERTIES TIMEOUT 300)
  find_program(QR_CLANGXX clang++)
  if(QR_CLANGXX)
    add_test(NAME archive_fuzz_smoke COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fuzz.sh 60)
    # Its cost (rough seconds, the fuzzer's build included) starts it early in a parallel run.
    set_tests_properties(archive_fuzz_smoke PROPERTIES TIMEOUT 1200 LABELS fuzz COST 85)
  else()
    message(STATUS "clang++ not found: archive_fuzz_smoke is not registered")
  endif()
  add_subdirectory(${PROJECT_SOURCE_DIR}/bench/zip ${CMAKE_BINARY_DIR}/bench/zip)
endif()

# The delta codec's cases make their deltas with the publisher's encoder.
target_link_libraries(quorvel_tests PRIVATE qr_delta_encoder)

# The delta applied to a file over 1 GB, in the 32-bit build under qemu-i386 (its own entry: it
# takes minutes there and writes 2.3 GB of scratch files).
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND QUORVEL_I386_BUILD_DIR)
  add_test(NAME i386_large_delta_under_qemu
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/i386/run_i386_tests.sh ${QUORVEL_I386_BUILD_DIR}
            --gtest_filter=ArchiveDeltaLarge.*)
  set_tests_properties(i386_large_delta_under_qemu PROPERTIES TIMEOUT 1200 COST 50
                       ENVIRONMENT QUORVEL_LARGE_DELTA=1)
endif()

if(NOT WIN32)
  add_subdirectory(${PROJECT_SOURCE_DIR}/bench/delta ${CMAKE_BINARY_DIR}/bench/delta)
endif()
