tintwave_bench(pipeline_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/pipeline_files.cpp LIBS tintwave_pipeline)
# The benchmark replaces operator new/delete over malloc/free to count the heap; g++ flags the
# inlined pair as a mismatch.
target_compile_options(pipeline_bench PRIVATE -Wno-mismatched-new-delete)
