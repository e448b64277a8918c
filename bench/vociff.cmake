tintwave_bench(formats_vociff_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/formats_vociff.cpp LIBS tintwave_formats)
