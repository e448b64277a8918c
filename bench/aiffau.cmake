tintwave_bench(formats_aiffau_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/formats_aiffau.cpp LIBS tintwave_formats)
