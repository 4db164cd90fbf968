# Project-wide compile settings and the helpers every folder uses.

set(KWRT_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)

# Deployment values, compiled into a generated header.
set(KWRT_NOTICE_HOST 127.0.0.1 CACHE STRING "Host of the notice server (HTTP, port 8000)")
set(KWRT_EVENT_LOG_URL http://127.0.0.1:8001/t/game/common CACHE STRING
    "Endpoint of the event-log service")
# A studio's community: both empty (no chat group) hides the label and the button.
set(KWRT_CHAT_GROUP_LABEL "" CACHE STRING
    "The chat-group label of the main window: the chat service's group label and the group number")
set(KWRT_CHAT_GROUP_URL "" CACHE STRING
    "The chat group's join page, opened in iexplore.exe")
# The studio's release key, as "kwrt-pack keygen" prints it; empty: the launcher trusts the network.
set(KWRT_RELEASE_KEY "" CACHE STRING
    "Public key that signs the releases (p256:BASE64); empty: releases are not checked")
if(NOT KWRT_RELEASE_KEY STREQUAL "" AND NOT KWRT_RELEASE_KEY MATCHES "^p256:[A-Za-z0-9+/]+=*$")
  message(FATAL_ERROR "KWRT_RELEASE_KEY is not a public key as kwrt-pack keygen prints it")
endif()
# Without a key: fetch the (unsigned) release manifest with the config all the same, for the
# files' checks and the patches below file level. Off: the road stays the one without manifests.
option(KWRT_RELEASE_MANIFEST "Use unsigned release manifests when no release key is set" OFF)
if(KWRT_RELEASE_MANIFEST)
  set(KWRT_RELEASE_MANIFEST_VALUE 1)
else()
  set(KWRT_RELEASE_MANIFEST_VALUE 0)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/deployment.h.in
               ${CMAKE_BINARY_DIR}/generated/kwrt/deployment.h @ONLY)

# The TLS servers of the tests listen on loopback addresses of their own: 127.77.N.1 to .9, N taken
# from the build folder, so that the tests of two builds never meet.
string(MD5 kwrt_build_hash ${CMAKE_BINARY_DIR})
string(SUBSTRING ${kwrt_build_hash} 0 2 kwrt_build_hash)
math(EXPR kwrt_tls_subnet "0x${kwrt_build_hash}" OUTPUT_FORMAT DECIMAL)
set(KWRT_TLS_NET 127.77.${kwrt_tls_subnet})
set(KWRT_TLS_DIR ${CMAKE_BINARY_DIR}/tls)

add_library(kwrt_options INTERFACE)
target_include_directories(kwrt_options INTERFACE ${CMAKE_BINARY_DIR}/generated)
target_compile_options(kwrt_options INTERFACE -Wall -Wextra -Wpedantic -Werror -Wshadow
                       -Wno-missing-field-initializers)
target_include_directories(kwrt_options INTERFACE ${KWRT_ROOT})
# Resource scripts find their header and images beside them.
target_include_directories(kwrt_options INTERFACE $<$<COMPILE_LANGUAGE:RC>:${KWRT_ROOT}/res>)
target_compile_definitions(kwrt_options INTERFACE
  KWRT_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} KWRT_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  KWRT_VERSION_PATCH=${PROJECT_VERSION_PATCH} KWRT_VERSION_TWEAK=${PROJECT_VERSION_TWEAK})
if(WIN32)
  target_compile_definitions(kwrt_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                             _WIN32_WINNT=0x0601)
endif()
if(KWRT_SANITIZE)
  target_compile_options(kwrt_options INTERFACE -fsanitize=${KWRT_SANITIZE}
                         -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  target_link_options(kwrt_options INTERFACE -fsanitize=${KWRT_SANITIZE})
endif()

# Picks the sources of this flavour's backend: NAME_win.cpp on Windows, NAME_posix.cpp elsewhere.
function(kwrt_platform_sources out)
  set(result)
  foreach(name IN LISTS ARGN)
    if(WIN32)
      list(APPEND result ${name}_win.cpp)
    else()
      list(APPEND result ${name}_posix.cpp)
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# Gives an executable its file version: a version resource on Windows, the ".kwrt_version"
# section on POSIX. Both are what GetFileVersion reads. Without VERSION: the project's version.
function(kwrt_add_version target)
  cmake_parse_arguments(ARG "" "VERSION;DESCRIPTION" "" ${ARGN})
  if(NOT ARG_VERSION)
    set(ARG_VERSION ${PROJECT_VERSION})
  endif()
  if(NOT ARG_DESCRIPTION)
    set(ARG_DESCRIPTION ${target})
  endif()
  string(REPLACE "." ";" parts ${ARG_VERSION})
  list(APPEND parts 0 0 0 0)
  list(GET parts 0 KWRT_V1)
  list(GET parts 1 KWRT_V2)
  list(GET parts 2 KWRT_V3)
  list(GET parts 3 KWRT_V4)
  set(KWRT_VERSION_TEXT "${KWRT_V1}.${KWRT_V2}.${KWRT_V3}.${KWRT_V4}")
  set(KWRT_DESCRIPTION ${ARG_DESCRIPTION})
  set(KWRT_ORIGINAL_NAME ${target}${CMAKE_EXECUTABLE_SUFFIX})
  if(WIN32)
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${KWRT_ROOT}/res/version.rc.in ${generated} @ONLY)
  else()
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.cpp)
    configure_file(${KWRT_ROOT}/res/version_section.cpp.in ${generated} @ONLY)
  endif()
  target_sources(${target} PRIVATE ${generated})
endfunction()

# An executable of the project: shared options and the project's version.
function(kwrt_add_executable target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE kwrt_options)
  kwrt_add_version(${target})
endfunction()

# A test binary beside the code it tests: GoogleTest, the shared helpers, one ctest entry per case.
# RESOURCE_LOCK names something its cases share with each other, so ctest runs them one at a time.
# FIXTURES names ctest fixtures its cases need (tls_servers: the TLS servers of the tests).
# TIMEOUT: the seconds a case may take (120 unless given).
function(kwrt_add_test target)
  cmake_parse_arguments(ARG "" "RESOURCE_LOCK;FIXTURES;TIMEOUT" "" ${ARGN})
  add_executable(${target} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE kwrt_options kwrt_testing)
  kwrt_add_version(${target})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(properties TIMEOUT ${ARG_TIMEOUT} LABELS ${target})
  if(ARG_RESOURCE_LOCK)
    list(APPEND properties RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  if(ARG_FIXTURES)
    list(APPEND properties FIXTURES_REQUIRED ${ARG_FIXTURES})
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} PROPERTIES ${properties})
endfunction()

# A libFuzzer target (clang, host, with KWRT_FUZZ). Its ctest entry runs a bounded number of inputs
# from the seeds in SEEDS (a folder of the source tree, never written to); what the fuzzer finds
# goes to a folder of the build.
function(kwrt_add_fuzzer target source)
  cmake_parse_arguments(ARG "" "SEEDS" "LIBS" ${ARGN})
  if(NOT KWRT_FUZZ)
    return()
  endif()
  add_executable(${target} ${source})
  target_link_libraries(${target} PRIVATE kwrt_options kwrt_engine ${ARG_LIBS})
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  set(found ${CMAKE_CURRENT_BINARY_DIR}/${target}_corpus)
  file(MAKE_DIRECTORY ${found})
  add_test(NAME fuzz.${target}
           COMMAND ${target} -runs=${KWRT_FUZZ_RUNS} -seed=1 -max_total_time=120
                   -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${target}- ${found}
                   ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_SEEDS})
  set_tests_properties(fuzz.${target} PROPERTIES TIMEOUT 300)
endfunction()
