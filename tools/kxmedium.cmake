# kxmedium: builds and verifies installation media. Deflate comes from libdeflate natively and
# from Debian's static MinGW zlib (libz-mingw-w64-dev) in the Windows build.
add_library(kxmediumlib STATIC
  kxmedium_build.cpp kxmedium_crypt.cpp kxmedium_files.cpp
  kxmedium_names.cpp kxmedium_totals.cpp kxmedium_verify.cpp
  kxmedium_zipdir.cpp kxmedium_zipwriter.cpp)
target_include_directories(kxmediumlib PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(kxmediumlib PUBLIC kxengine kxplatform)
if(WIN32)
  target_sources(kxmediumlib PRIVATE kxmedium_os_win32.cpp kxmedium_deflate_zlib.cpp)
  find_path(KX_ZLIB_INCLUDE zlib.h REQUIRED)
  find_library(KX_ZLIB_LIBRARY NAMES libz.a z REQUIRED)
  target_include_directories(kxmediumlib PRIVATE ${KX_ZLIB_INCLUDE})
  target_link_libraries(kxmediumlib PRIVATE ${KX_ZLIB_LIBRARY} advapi32)
else()
  target_sources(kxmediumlib PRIVATE kxmedium_os_posix.cpp kxmedium_deflate_libdeflate.cpp)
  find_path(KX_LIBDEFLATE_INCLUDE libdeflate.h REQUIRED)
  find_library(KX_LIBDEFLATE_LIBRARY deflate REQUIRED)
  target_include_directories(kxmediumlib PRIVATE ${KX_LIBDEFLATE_INCLUDE})
  target_link_libraries(kxmediumlib PRIVATE ${KX_LIBDEFLATE_LIBRARY})
endif()
kx_warnings(kxmediumlib)

# The Windows program carries the string table, from which the engine takes its messages.
if(WIN32)
  add_executable(kxmedium kxmedium.cpp kxmedium.rc)
  target_include_directories(kxmedium PRIVATE ${PROJECT_SOURCE_DIR}/res)
else()
  add_executable(kxmedium kxmedium.cpp)
endif()
target_link_libraries(kxmedium PRIVATE kxmediumlib)
kx_warnings(kxmedium)

if(WIN32)
  add_subdirectory(standin)
endif()
