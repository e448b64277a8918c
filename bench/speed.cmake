# Whole processes of tintwave-cli against sox and mpg123 on the same files, in the same run.
if(TARGET tintwave-cli)
  tintwave_bench(speed_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/speed_tools.cpp LIBS tintwave_formats)
  target_compile_definitions(speed_bench PRIVATE TINTWAVE_CLI="$<TARGET_FILE:tintwave-cli>")
  add_dependencies(speed_bench tintwave-cli)
endif()
