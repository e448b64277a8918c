tintwave_bench(devices_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/DevicesBench.cpp LIBS tintwave_devices)
