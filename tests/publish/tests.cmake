# quorvel-publish end to end: successive trees published, served by our patch server and by nginx,
# and installs on every earlier version patched with quorvel-patch (signed releases with the build
# that has the demo key inside).
set(qr_signed_patcher_args --signed-patcher $<TARGET_FILE:quorvel-patch-demokey>)
set(qr_signed_patcher_text "--signed-patcher $<TARGET_FILE:quorvel-patch-demokey>")  # for the Wine test's shell
if(NOT WIN32 AND Python3_EXECUTABLE)
  add_test(NAME publish_end_to_end
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_quorvel_publish.py
                   --publish $<TARGET_FILE:quorvel-publish> --patcher $<TARGET_FILE:quorvel-patch>
                   ${qr_signed_patcher_args})
  set_tests_properties(publish_end_to_end PROPERTIES TIMEOUT 600)
endif()
# The x86_64 Windows build of the publisher under wine64: CNG signs, openssl verifies.
if(NOT WIN32 AND Python3_EXECUTABLE AND QUORVEL_WIN64_BUILD_DIR)
  add_test(NAME publish_end_to_end_under_wine
           COMMAND bash -c "source ${PROJECT_SOURCE_DIR}/scripts/wine-env.sh && wine_prepare_prefix && exec ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_quorvel_publish.py --wine --publish ${QUORVEL_WIN64_BUILD_DIR}/tools/publish/quorvel-publish.exe --patcher $<TARGET_FILE:quorvel-patch> ${qr_signed_patcher_text}")
  # Locked like the other runs in build/wineprefix; the cost (rough seconds) starts it early.
  set_tests_properties(publish_end_to_end_under_wine PROPERTIES TIMEOUT 900 RESOURCE_LOCK wineprefix COST 70)
endif()
