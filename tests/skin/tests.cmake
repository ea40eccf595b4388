# Windows trees: the skinned test window, linked with the launcher's resources.
# Native tree: the compiled resources read back from both Windows trees' executables, and the
# test window run under wine64 on Xvfb with its screenshot checked pixel by pixel.
if(WIN32)
  # Its own pictures are compiled apart: the compiler options of our C++ targets mean nothing to
  # the resource compiler.
  add_library(skin_window_check_res OBJECT ${CMAKE_CURRENT_LIST_DIR}/win_skin_window.rc)
  target_include_directories(skin_window_check_res PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/win_skin_window.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/data/colours16.bmp;${CMAKE_CURRENT_LIST_DIR}/data/colours20.bmp")
  add_executable(skin_window_check ${CMAKE_CURRENT_LIST_DIR}/win_skin_window.cpp)
  qr_defaults(skin_window_check)
  target_link_libraries(skin_window_check PRIVATE qr_skin qr_resources skin_window_check_res comctl32)
  set_target_properties(skin_window_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endif()

if(NOT WIN32 AND QUORVEL_WIN64_BUILD_DIR AND Python3_EXECUTABLE)
  get_filename_component(qr_skin_builds ${QUORVEL_WIN64_BUILD_DIR} DIRECTORY)
  set(qr_skin_out ${CMAKE_BINARY_DIR}/test-output/skin)
  # Both architectures, the launcher itself and the test window (which links the same objects).
  foreach(arch win64 win32)
    foreach(exe app/QuorvelLauncher bin/skin_window_check)
      get_filename_component(qr_skin_exe_name ${exe} NAME)
      add_test(NAME skin_resources_${arch}_${qr_skin_exe_name}
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_resources.py
                --arch ${arch} ${qr_skin_builds}/${arch}/${exe}.exe ${PROJECT_SOURCE_DIR}/res)
      set_tests_properties(skin_resources_${arch}_${qr_skin_exe_name} PROPERTIES TIMEOUT 60)
    endforeach()
  endforeach()
  add_test(NAME skin_window_wine
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_window_check.sh ${Python3_EXECUTABLE}
            ${QUORVEL_WIN64_BUILD_DIR}/bin/skin_window_check.exe ${PROJECT_SOURCE_DIR}/res/bitmaps
            ${qr_skin_out} ${CMAKE_BINARY_DIR}/wineprefix-skin)
  # Alone, as its screenshots are timed; a high cost runs it first, before the other slot is busy,
  # rather than draining a parallel run halfway.
  set_tests_properties(skin_window_wine PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE COST 1000)
endif()
