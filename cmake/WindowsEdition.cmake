# The Windows edition's dependencies, cross-built with cmake/mingw-w64.cmake.
# Header-only libraries come from Debian's packages, but the host's /usr/include
# never reaches the cross compiler: only these folders are linked into a
# folder of the build and put on the include path.
set(QV_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${QV_HOST_HEADERS})
foreach(entry asio asio.hpp nlohmann CLI)
  if(EXISTS /usr/include/${entry} AND NOT EXISTS ${QV_HOST_HEADERS}/${entry})
    file(CREATE_LINK /usr/include/${entry} ${QV_HOST_HEADERS}/${entry} SYMBOLIC)
  endif()
endforeach()
if(NOT EXISTS ${QV_HOST_HEADERS}/asio.hpp OR NOT EXISTS ${QV_HOST_HEADERS}/nlohmann/json.hpp)
  message(FATAL_ERROR "Asio and nlohmann-json headers are needed: apt-get install libasio-dev nlohmann-json3-dev")
endif()
include_directories(SYSTEM ${QV_HOST_HEADERS})

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
if(EXISTS ${QV_HOST_HEADERS}/CLI/CLI.hpp)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
endif()
# Windows sockets for Asio, the system's own MD5 and natural comparison.
link_libraries(ws2_32 mswsock)

# No Qt, no camera simulator, no fuzzing, no Linux benchmarks in this edition.
set(QV_BUILD_GUI OFF CACHE BOOL "" FORCE)
set(QV_FUZZ OFF CACHE BOOL "" FORCE)
set(QV_BUILD_BENCH OFF CACHE BOOL "" FORCE)

if(QV_BUILD_TESTS)
  enable_testing()
  # GoogleTest from Debian's sources (googletest package), built with the
  # cross compiler.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  include(GoogleTest)
endif()
