# The 32-bit Linux tree's test executable (scripts/build.sh builds build/i386 with
# cmake/linux-i386.cmake), run from the native tree's single ctest under that tree's emulator.
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND QUORVEL_I386_BUILD_DIR)
  add_test(NAME i386_tests_under_qemu
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_i386_tests.sh ${QUORVEL_I386_BUILD_DIR})
  set_tests_properties(i386_tests_under_qemu PROPERTIES TIMEOUT 900 COST 40)
endif()
