if(TARGET tintwave_editor)
  tintwave_bench(editor_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/editor_commands.cpp LIBS tintwave_editor)
endif()
