# PNG::PNG for the editor's images. Linux uses the system's libpng (libpng-dev).
# The Windows DLLs link libpng in statically: Debian has no mingw-w64 build of it,
# so it is compiled here from Debian's source package, which
# `tools/install-deps.sh windows` unpacks into build-deps/libpng, against the
# static zlib of libz-mingw-w64-dev.
if(NOT WIN32)
  find_package(PNG REQUIRED)
  return()
endif()

set(TOLVANE_LIBPNG_SOURCE ${PROJECT_SOURCE_DIR}/build-deps/libpng CACHE PATH "libpng's source tree")
if(NOT EXISTS ${TOLVANE_LIBPNG_SOURCE}/png.c)
  message(FATAL_ERROR "No libpng source at ${TOLVANE_LIBPNG_SOURCE}: run 'tools/install-deps.sh windows'")
endif()
find_library(TOLVANE_ZLIB_STATIC NAMES libz.a REQUIRED)
find_path(TOLVANE_ZLIB_INCLUDE zlib.h REQUIRED)

set(png_build ${CMAKE_BINARY_DIR}/libpng)
configure_file(${TOLVANE_LIBPNG_SOURCE}/scripts/pnglibconf.h.prebuilt ${png_build}/pnglibconf.h COPYONLY)
add_library(png_static STATIC)
foreach(source png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil pngset pngtrans pngwio
               pngwrite pngwtran pngwutil)
  target_sources(png_static PRIVATE ${TOLVANE_LIBPNG_SOURCE}/${source}.c)
endforeach()
target_include_directories(png_static PUBLIC ${TOLVANE_LIBPNG_SOURCE} ${png_build} ${TOLVANE_ZLIB_INCLUDE})
# Someone else's code: its warnings are not ours to fix.
target_compile_options(png_static PRIVATE -w)
target_link_libraries(png_static PUBLIC ${TOLVANE_ZLIB_STATIC})
add_library(PNG::PNG ALIAS png_static)
