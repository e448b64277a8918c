tintwave_bench(analysis_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/analysis_store.cpp LIBS tintwave_analysis)
# The sound search on the generated corpus: sound_search_eval CORPUS build/cli/tintwave-cli.
add_executable(sound_search_eval ${CMAKE_CURRENT_SOURCE_DIR}/sound_search_eval.cpp)
