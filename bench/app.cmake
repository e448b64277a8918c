# The desktop application: start-up, File > Open and the playback tick, headless (offscreen
# platform, set by the benchmark itself). Its own main: the platform must be chosen before the
# QApplication exists, and the same program is started again to time a cold process start.
if(TARGET tintwave_app)
  add_executable(app_bench ${CMAKE_CURRENT_SOURCE_DIR}/app_window.cpp)
  target_link_libraries(app_bench PRIVATE tintwave_app benchmark::benchmark)
  # The demo sound the build makes (app/Resources.cmake); the benchmark makes its own when it is
  # missing.
  target_compile_definitions(app_bench PRIVATE
    TINTWAVE_BENCH_DEMO="${CMAKE_BINARY_DIR}/app/demo.wav"
    TINTWAVE_BENCH_DEMO_MAIN="${CMAKE_SOURCE_DIR}/build/app/demo.wav")
endif()
