# Third-party libraries, all from Debian's archive: zlib (both flavours), JsonCpp (the system's on
# the host; built here from Debian's source package for Windows, which scripts/setup fetches).
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)

if(WIN32)
  set(KWRT_JSONCPP_DIR /var/cache/kwrt/jsoncpp CACHE PATH
      "Sources of Debian's libjsoncpp package (scripts/setup fetches them)")
  if(NOT EXISTS ${KWRT_JSONCPP_DIR}/src/lib_json/json_reader.cpp)
    message(FATAL_ERROR "JsonCpp sources not found in ${KWRT_JSONCPP_DIR}: run scripts/setup")
  endif()
  # Only the three sources: JsonCpp's own CMake would set global output folders.
  add_library(kwrt_jsoncpp STATIC ${KWRT_JSONCPP_DIR}/src/lib_json/json_reader.cpp
              ${KWRT_JSONCPP_DIR}/src/lib_json/json_value.cpp
              ${KWRT_JSONCPP_DIR}/src/lib_json/json_writer.cpp)
  target_include_directories(kwrt_jsoncpp SYSTEM PUBLIC ${KWRT_JSONCPP_DIR}/include)
  target_include_directories(kwrt_jsoncpp PRIVATE ${KWRT_JSONCPP_DIR}/src/lib_json)
else()
  find_package(jsoncpp CONFIG REQUIRED)
  add_library(kwrt_jsoncpp INTERFACE)
  target_link_libraries(kwrt_jsoncpp INTERFACE JsonCpp::JsonCpp)
endif()
