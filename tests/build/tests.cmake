# The Windows executables are PE files of the right machine and need no DLL beyond the system's.
if(NOT WIN32)
  set(qr_windows_exes app/QuorvelLauncher.exe cli/quorvel-patch.exe cli/quorvel-patch-demokey.exe
    tests/quorvel_tests.exe tools/publish/quorvel-publish.exe)
  if(QUORVEL_WIN32_BUILD_DIR)
    add_test(NAME windows_executables_i686
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_executables.py
                     --tree ${QUORVEL_WIN32_BUILD_DIR} --machine i386 ${qr_windows_exes})
  endif()
  if(QUORVEL_WIN64_BUILD_DIR)
    add_test(NAME windows_executables_x86_64
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_executables.py
                     --tree ${QUORVEL_WIN64_BUILD_DIR} --machine x86-64 ${qr_windows_exes})
  endif()
endif()

# The layers point down (includes and links), and the release format's names are spelled out only in
# its own folder.
if(NOT WIN32 AND Python3_EXECUTABLE)
  add_test(NAME build_include_direction
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/include_direction.py --root ${PROJECT_SOURCE_DIR})
  add_test(NAME build_release_literals
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/release_literals.py --root ${PROJECT_SOURCE_DIR})
endif()

# The build variables (release key, patch list address) reach a tree from the environment.
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND Python3_EXECUTABLE)
  add_test(NAME build_configure_from_environment
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_configure.py --root ${PROJECT_SOURCE_DIR})
  set_tests_properties(build_configure_from_environment PROPERTIES TIMEOUT 900)
endif()
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND Python3_EXECUTABLE)
  add_test(NAME build_demo_window_refuses_foreign_key
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_demo_window.py --root ${PROJECT_SOURCE_DIR})
endif()
