# The launcher end to end: the x86_64 build under wine64 + Xvfb + xdotool against the patch server,
# one CTest test per case. Screenshots of each state stay in test-output/e2e/<case>/.
if(NOT WIN32 AND QUORVEL_WIN64_BUILD_DIR)
  file(GLOB QR_E2E_CASES RELATIVE ${CMAKE_CURRENT_LIST_DIR} CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/case_*.sh)
  foreach(case_file ${QR_E2E_CASES})
    string(REGEX REPLACE "^case_(.*)\\.sh$" "\\1" case ${case_file})
    add_test(NAME e2e_launcher_${case}
      COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run.sh ${case} ${QUORVEL_WIN64_BUILD_DIR}
              ${CMAKE_BINARY_DIR}/test-output/e2e)
    # The cases share build/wineprefix-e2e and each ends its server, so they take turns; Wine runs
    # in other prefixes go on beside them.
    set_tests_properties(e2e_launcher_${case} PROPERTIES
      TIMEOUT 600 RESOURCE_LOCK wineprefix-e2e COST 15 ENVIRONMENT "QR_PYTHON=${Python3_EXECUTABLE}")
  endforeach()
  # Rough seconds of the long ones, so a fresh tree's parallel run starts them first.
  set_tests_properties(e2e_launcher_second_launcher PROPERTIES COST 75)
  set_tests_properties(e2e_launcher_patch_self PROPERTIES COST 30)
endif()
