# quorvel-patch end to end against the real patch server: the native build with libcurl, and the
# x86_64 Windows build (WinInet, Windows file and INI calls) under wine64.
if(NOT WIN32 AND TARGET quorvel-patch)
  add_test(NAME cli_end_to_end
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_quorvel_patch.py
                   --binary $<TARGET_FILE:quorvel-patch>)
  set_tests_properties(cli_end_to_end PROPERTIES TIMEOUT 600)
  if(QUORVEL_WIN64_BUILD_DIR)
    add_test(NAME cli_end_to_end_under_wine
             COMMAND bash -c "source ${PROJECT_SOURCE_DIR}/scripts/wine-env.sh && wine_prepare_prefix && exec ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_quorvel_patch.py --wine --binary ${QUORVEL_WIN64_BUILD_DIR}/cli/quorvel-patch.exe")
    set_tests_properties(cli_end_to_end_under_wine PROPERTIES TIMEOUT 900 RESOURCE_LOCK "wine;wineprefix")
  endif()
endif()

# Resumed downloads (our server, then nginx on the same address) and --verify/--repair, natively and
# under wine64.
if(NOT WIN32 AND TARGET quorvel-patch)
  add_test(NAME cli_resume_repair
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_resume_repair.py
                   --binary $<TARGET_FILE:quorvel-patch>)
  set_tests_properties(cli_resume_repair PROPERTIES TIMEOUT 600)
  if(QUORVEL_WIN64_BUILD_DIR)
    add_test(NAME cli_resume_repair_under_wine
             COMMAND bash -c "source ${PROJECT_SOURCE_DIR}/scripts/wine-env.sh && wine_prepare_prefix && exec ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_resume_repair.py --wine --binary ${QUORVEL_WIN64_BUILD_DIR}/cli/quorvel-patch.exe")
    set_tests_properties(cli_resume_repair_under_wine PROPERTIES TIMEOUT 900 RESOURCE_LOCK "wine;wineprefix")
  endif()
endif()

# The same program with the demo release key against signed releases (HTTPS natively).
if(NOT WIN32 AND TARGET quorvel-patch-demokey)
  add_test(NAME cli_signed_release
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_signed_release.py
                   --binary $<TARGET_FILE:quorvel-patch-demokey>)
  set_tests_properties(cli_signed_release PROPERTIES TIMEOUT 600)
  if(QUORVEL_WIN64_BUILD_DIR)
    add_test(NAME cli_signed_release_under_wine
             COMMAND bash -c "source ${PROJECT_SOURCE_DIR}/scripts/wine-env.sh && wine_prepare_prefix && exec ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_signed_release.py --wine --binary ${QUORVEL_WIN64_BUILD_DIR}/cli/quorvel-patch-demokey.exe")
    set_tests_properties(cli_signed_release_under_wine PROPERTIES TIMEOUT 900 RESOURCE_LOCK "wine;wineprefix")
  endif()
endif()
