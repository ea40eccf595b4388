# Platform adaptors tested directly (both builds; the Windows build runs them under wine64).
file(GLOB QR_PLATFORM_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
target_sources(quorvel_tests PRIVATE ${QR_PLATFORM_TEST_SOURCES})
