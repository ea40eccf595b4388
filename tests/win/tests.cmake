# The Windows-only cases also drive our thin Win32 layer.
if(WIN32)
  target_link_libraries(quorvel_tests PRIVATE qr_ui)
endif()
