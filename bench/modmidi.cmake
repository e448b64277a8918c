tintwave_bench(formats_modmidi_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/formats_modmidi.cpp LIBS tintwave_formats)
