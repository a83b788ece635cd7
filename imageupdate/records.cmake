# The snapshot record library, added to the imageupdate target.
target_sources(imageupdate PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Win32FileSize.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileTimeToSTR.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RawBytes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RecordStream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListNodeData.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListNodeData_STR.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SortedLinkList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SortedLinkList_STR.cpp
  ${CMAKE_CURRENT_LIST_DIR}/NodeFactory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SharedSDPool.cpp)

# SharedSDPool must exist in every program that links the library, also in those
# that never name it: make the linker pull its object out of the static library.
target_link_options(imageupdate INTERFACE "LINKER:--undefined=kvo_shared_sd_pool_anchor")

# Registry key and value, file-id map and group records.
target_sources(imageupdate PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ListNodeData_REGKEYINFO.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListNodeData_REGVALUE.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListNodeData_FILEIDMAP.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListNodeData_GROUPINFO.cpp)

# File and folder records.
target_sources(imageupdate PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/WideTextOut.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListNodeData_FILEINFO.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SortedLinkList_FILEINFO.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListNodeData_FOLDERINFO.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SortedLinkList_FOLDERINFO.cpp)
