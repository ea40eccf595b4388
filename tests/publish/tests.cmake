# quorvel-publish end to end: successive trees published, served by our patch server and by nginx,
# and installs on every earlier version patched with quorvel-patch.
if(NOT WIN32 AND Python3_EXECUTABLE AND TARGET quorvel-publish AND TARGET quorvel-patch)
  add_test(NAME publish_end_to_end
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_quorvel_publish.py
                   --publish $<TARGET_FILE:quorvel-publish> --patcher $<TARGET_FILE:quorvel-patch>)
  set_tests_properties(publish_end_to_end PROPERTIES TIMEOUT 600)
endif()
