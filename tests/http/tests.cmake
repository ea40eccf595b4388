# HTTP client tests (both builds), the patch server's own checks and, in the native build, the whole
# Windows test executable run under wine64 against a server started beside it.
file(GLOB QR_HTTP_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
target_sources(quorvel_tests PRIVATE ${QR_HTTP_TEST_SOURCES})

if(NOT WIN32 AND Python3_EXECUTABLE)
  add_test(NAME http_patch_server
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/patch_server_test.py)
  add_test(NAME http_make_demo
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/make_demo_test.py)
  set_tests_properties(http_patch_server http_make_demo PROPERTIES TIMEOUT 120)
  set_tests_properties(http_make_demo PROPERTIES ENVIRONMENT "QUORVEL_PUBLISH=$<TARGET_FILE:quorvel-publish>")
endif()

if(NOT WIN32 AND QUORVEL_WIN64_BUILD_DIR)
  add_test(NAME windows_tests_under_wine
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_win_tests.sh ${QUORVEL_WIN64_BUILD_DIR}/tests/quorvel_tests.exe)
  set_tests_properties(windows_tests_under_wine PROPERTIES
    TIMEOUT 1800 RESOURCE_LOCK wineprefix COST 15 ENVIRONMENT "QR_PYTHON=${Python3_EXECUTABLE}")
endif()

# The download benchmark's fetch program (native only; scripts/bench-http.sh builds it on demand).
if(NOT WIN32)
  add_subdirectory(${PROJECT_SOURCE_DIR}/bench/http ${CMAKE_BINARY_DIR}/bench/http)
endif()

# The launcher's patch list download is Windows code of its own; the Windows test executable holds it.
if(WIN32)
  target_sources(quorvel_tests PRIVATE ${PROJECT_SOURCE_DIR}/app/PatchListFetch_win.cpp)
  target_link_libraries(quorvel_tests PRIVATE urlmon wininet ole32 uuid)
endif()
