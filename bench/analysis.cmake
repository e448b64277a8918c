tintwave_bench(analysis_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/analysis_store.cpp LIBS tintwave_analysis)
