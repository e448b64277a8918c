if(TARGET tintwave_editor)
  tintwave_bench(recovery_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/recovery_journal.cpp LIBS tintwave_editor tintwave_formats)
endif()
