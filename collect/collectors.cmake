# The metadata and product log collectors.
target_sources(collect PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CollectorTrees.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VellocsMetadata.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VellocsLogs.cpp)
