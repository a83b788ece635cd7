# Third-party libraries, all from Debian packages (scripts/install-deps.sh).

# zlib built for MinGW, linked statically so the program needs no zlib1.dll.
find_library(KVO_ZLIB_STATIC NAMES libz.a)
find_path(KVO_ZLIB_INCLUDE zlib.h)
if(NOT KVO_ZLIB_STATIC OR NOT KVO_ZLIB_INCLUDE)
  message(FATAL_ERROR "Static zlib for MinGW-w64 not found (libz.a, zlib.h under /usr/${KVO_TRIPLET}): "
                      "apt-get install libz-mingw-w64-dev")
endif()
add_library(kvo_zlib STATIC IMPORTED GLOBAL)
set_target_properties(kvo_zlib PROPERTIES IMPORTED_LOCATION ${KVO_ZLIB_STATIC}
                      INTERFACE_INCLUDE_DIRECTORIES ${KVO_ZLIB_INCLUDE})

# nlohmann/json is header-only but lives in the host's /usr/include, which must not reach the
# Windows include path: a folder of the build tree holds just a link to its headers.
find_path(KVO_JSON_HOST_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT KVO_JSON_HOST_INCLUDE)
  message(FATAL_ERROR "nlohmann/json not found (/usr/include/nlohmann/json.hpp): apt-get install nlohmann-json3-dev")
endif()
set(KVO_JSON_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${KVO_JSON_INCLUDE})
file(CREATE_LINK ${KVO_JSON_HOST_INCLUDE}/nlohmann ${KVO_JSON_INCLUDE}/nlohmann SYMBOLIC)
add_library(kvo_json INTERFACE)
target_include_directories(kvo_json SYSTEM INTERFACE ${KVO_JSON_INCLUDE})
