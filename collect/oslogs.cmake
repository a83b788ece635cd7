# The OS log collector.
target_sources(collect PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/WindowsOSLogs.cpp)
