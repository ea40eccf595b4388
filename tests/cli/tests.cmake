# quorvel-patch end to end against the real patch server: the native build with libcurl, and the
# x86_64 Windows build (WinInet, Windows file and INI calls) under wine64.
#   cli_end_to_end: patch runs with every fault mode;
#   cli_resume_repair: resumed downloads (our server, then nginx on the same address), --verify/--repair;
#   cli_parallel_fetch: several items at once, completions reordered by the server, committed in list order;
#   cli_delta_updates: installs behind a release with deltas, and every way a delta can fail;
#   cli_signed_release: the program with the demo release key against signed releases (HTTPS natively).
function(qr_cli_test name script program)
  # Further arguments go to the script as they are (natively built tools it needs, e.g. the publisher).
  add_test(NAME ${name}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${script} --binary $<TARGET_FILE:${program}> ${ARGN})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  if(QUORVEL_WIN64_BUILD_DIR)
    string(JOIN " " extra ${ARGN})  # inside the shell command line
    add_test(NAME ${name}_under_wine
             COMMAND bash -c "source ${PROJECT_SOURCE_DIR}/scripts/wine-env.sh && wine_prepare_prefix && exec ${Python3_EXECUTABLE} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${script} --wine --binary ${QUORVEL_WIN64_BUILD_DIR}/cli/${program}.exe ${extra}")
    # The lock is on the prefix (build/wineprefix), whose server a script ends when it is done; Wine
    # runs in other prefixes (the launcher's end-to-end cases) go on beside it.
    set_tests_properties(${name}_under_wine PROPERTIES TIMEOUT 900 RESOURCE_LOCK wineprefix)
  endif()
endfunction()

if(NOT WIN32)
  qr_cli_test(cli_end_to_end test_quorvel_patch.py quorvel-patch)
  qr_cli_test(cli_resume_repair test_resume_repair.py quorvel-patch)
  qr_cli_test(cli_parallel_fetch test_parallel_fetch.py quorvel-patch)
  # The launcher from before deltas comes from scripts/build-old-launcher.sh (run by scripts/test.sh).
  qr_cli_test(cli_delta_updates test_delta_updates.py quorvel-patch --publish $<TARGET_FILE:quorvel-publish>
              --old-binary ${PROJECT_SOURCE_DIR}/build/old-launcher/build/cli/quorvel-patch)
  qr_cli_test(cli_signed_release test_signed_release.py quorvel-patch-demokey)
  # Rough seconds each takes, so a fresh tree's parallel run starts the long ones first.
  set_tests_properties(cli_end_to_end cli_resume_repair PROPERTIES COST 15)
  if(QUORVEL_WIN64_BUILD_DIR)
    set_tests_properties(cli_end_to_end_under_wine PROPERTIES COST 60)
    set_tests_properties(cli_resume_repair_under_wine PROPERTIES COST 80)
    set_tests_properties(cli_signed_release_under_wine PROPERTIES COST 25)
  endif()
endif()
