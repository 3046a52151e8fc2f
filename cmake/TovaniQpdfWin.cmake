# qpdf for the Windows build, as static libraries made with the cross
# compiler: Debian has no MinGW qpdf, and the program must need no DLLs of
# its own. Built from Debian's source tarballs of the versions its Linux
# packages carry (libqpdf-dev 11.3.0, libjpeg62-turbo 2.1.5), so both
# builds run the same qpdf; zlib is Debian's own MinGW static library.
# Gives tovani_qpdf_win: include <qpdf/...> and link it.
include(ExternalProject)

set(TOVANI_DEPS_DOWNLOAD_DIR "${CMAKE_BINARY_DIR}/downloads" CACHE PATH
    "Where the Windows build keeps the source tarballs it downloads (kept across rebuilds)")

find_path(TOVANI_ZLIB_INCLUDE_DIR zlib.h)
find_library(TOVANI_ZLIB_STATIC NAMES libz.a)
if(NOT TOVANI_ZLIB_INCLUDE_DIR OR NOT TOVANI_ZLIB_STATIC)
  message(FATAL_ERROR "MinGW zlib not found: install libz-mingw-w64-dev (scripts/setup)")
endif()

set(_qpdf_prefix ${CMAKE_BINARY_DIR}/third_party/win)
file(MAKE_DIRECTORY ${_qpdf_prefix}/include ${_qpdf_prefix}/lib)
# The sub-builds are a few hundred files run from one step of ours: let them
# use the cores (the steps around them wait for qpdf anyway).
cmake_host_system_information(RESULT _qpdf_jobs QUERY NUMBER_OF_LOGICAL_CORES)
# Built for size: the program downloads with the learner's first link, and
# qpdf's work per print is bounded anyway (about a tenth slower than -O3,
# some 830 KB smaller).
set(_qpdf_common_args
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCMAKE_BUILD_TYPE=MinSizeRel
    -DCMAKE_INSTALL_PREFIX=${_qpdf_prefix})

# The JPEG library only qpdf's DCT filter uses: the library target alone, no
# SIMD (it would need nasm, and the player only passes JPEG data through).
ExternalProject_Add(tovani_jpeg_win_build
  URL https://deb.debian.org/debian/pool/main/libj/libjpeg-turbo/libjpeg-turbo_2.1.5.orig.tar.gz
  URL_HASH SHA256=254f3642b04e309fee775123133c6464181addc150499561020312ec61c1bf7c
  DOWNLOAD_DIR ${TOVANI_DEPS_DOWNLOAD_DIR}
  DOWNLOAD_EXTRACT_TIMESTAMP TRUE
  PREFIX ${CMAKE_BINARY_DIR}/third_party/jpeg
  CMAKE_ARGS ${_qpdf_common_args}
      -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF
  # The library copied by hand: its install rule wants the tools too.
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target jpeg-static -j ${_qpdf_jobs}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/libjpeg.a ${_qpdf_prefix}/lib/
        COMMAND ${CMAKE_COMMAND} -E copy_if_different <SOURCE_DIR>/jpeglib.h <SOURCE_DIR>/jmorecfg.h
                <SOURCE_DIR>/jerror.h <BINARY_DIR>/jconfig.h ${_qpdf_prefix}/include/
  # Installed by the build step, whose by-products Ninja knows: what links
  # them or includes them is then rebuilt in the same run (it would not be,
  # for an install step's). Every file including jpeg's or qpdf's headers
  # includes jpeglib.h or qpdf/DLL.h.
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${_qpdf_prefix}/lib/libjpeg.a ${_qpdf_prefix}/include/jpeglib.h
  LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)

set(_qpdf_patches
    # MinGW's import libraries are lower-case files.
    ${CMAKE_CURRENT_LIST_DIR}/patches/qpdf-11.3.0-advapi32-lowercase.patch
    # Debian's fix in the Linux build's libqpdf (11.3.0-1+deb12u1).
    ${CMAKE_CURRENT_LIST_DIR}/patches/qpdf-11.3.0-tokenizer-octal.patch)
string(REPLACE ";" "|" _qpdf_patches_arg "${_qpdf_patches}")
ExternalProject_Add(tovani_qpdf_win_build
  URL https://deb.debian.org/debian/pool/main/q/qpdf/qpdf_11.3.0.orig.tar.gz
  URL_HASH SHA256=547cee67de77b5c4ef4917e57d2db9c848cfe3aa950361f68d36367a3a03936e
  DOWNLOAD_DIR ${TOVANI_DEPS_DOWNLOAD_DIR}
  DOWNLOAD_NO_EXTRACT TRUE
  PREFIX ${CMAKE_BINARY_DIR}/third_party/qpdf
  DEPENDS tovani_jpeg_win_build
  LIST_SEPARATOR |
  PATCH_COMMAND ${CMAKE_COMMAND} -DTARBALL=<DOWNLOADED_FILE> -DSOURCE_DIR=<SOURCE_DIR>
                -DPATCHES=${_qpdf_patches_arg} -P ${CMAKE_CURRENT_LIST_DIR}/TovaniUnpackPatched.cmake
  # Native crypto only: qpdf would otherwise look for OpenSSL or GnuTLS.
  # With no pkg-config it takes the paths given here; the host's pkg-config
  # would answer with Linux's zlib and libjpeg.
  CMAKE_ARGS ${_qpdf_common_args}
      -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_DOC=OFF
      -DUSE_IMPLICIT_CRYPTO=OFF -DREQUIRE_CRYPTO_NATIVE=ON
      -DINSTALL_EXAMPLES=OFF -DINSTALL_PKGCONFIG=OFF -DINSTALL_CMAKE_PACKAGE=OFF
      -DPKG_CONFIG_EXECUTABLE=/nonexistent/pkg-config
      -DZLIB_H_PATH=${TOVANI_ZLIB_INCLUDE_DIR} -DZLIB_LIB_PATH=${TOVANI_ZLIB_STATIC}
      -DLIBJPEG_H_PATH=${_qpdf_prefix}/include -DLIBJPEG_LIB_PATH=${_qpdf_prefix}/lib/libjpeg.a
  # The library alone: qpdf's own programs, tests and examples are not needed.
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target libqpdf -j ${_qpdf_jobs}
        COMMAND ${CMAKE_COMMAND} --install <BINARY_DIR> --component dev
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${_qpdf_prefix}/lib/libqpdf.a ${_qpdf_prefix}/include/qpdf/DLL.h
  LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)

ExternalProject_Add_StepDependencies(tovani_qpdf_win_build patch
    ${_qpdf_patches} ${CMAKE_CURRENT_LIST_DIR}/TovaniUnpackPatched.cmake)

add_library(tovani_qpdf_win INTERFACE)
add_dependencies(tovani_qpdf_win tovani_qpdf_win_build)
# Pl_DCT.hh includes jpeglib.h, so jpeg's headers sit beside qpdf's.
target_include_directories(tovani_qpdf_win SYSTEM INTERFACE ${_qpdf_prefix}/include)
# A static qpdf needs no define of its own on Windows (QPDF_DLL is empty
# unless building its DLL); the pointer setting is the Linux build's, where
# PointerHolder is gone and an unset value warns.
target_compile_definitions(tovani_qpdf_win INTERFACE POINTERHOLDER_TRANSITION=4)
# advapi32: qpdf's random numbers come from CryptGenRandom.
target_link_libraries(tovani_qpdf_win INTERFACE
    ${_qpdf_prefix}/lib/libqpdf.a ${_qpdf_prefix}/lib/libjpeg.a ${TOVANI_ZLIB_STATIC} advapi32)
