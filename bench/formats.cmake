tintwave_bench(formats_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/formats_wave.cpp LIBS tintwave_formats)
