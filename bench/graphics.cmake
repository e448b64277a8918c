if(TARGET tintwave_graphics_qt)
  tintwave_bench(graphics_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/graphics_display.cpp
                 LIBS tintwave_graphics_qt)
endif()
