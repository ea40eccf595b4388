# The Windows-only cases also drive our thin Win32 layer and the news view.
if(WIN32)
  target_link_libraries(quorvel_tests PRIVATE qr_ui qr_news_view)
endif()
