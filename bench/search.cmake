if(TARGET tintwave_search)
  tintwave_bench(search_bench
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/search_index.cpp ${CMAKE_CURRENT_SOURCE_DIR}/search_query.cpp
    LIBS tintwave_search)
endif()
