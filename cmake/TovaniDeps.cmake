# Third-party dependencies, one interface target for the platform's set.
add_library(tovani_platform_deps INTERFACE)

if(WIN32)
  # Debian's nlohmann headers live in /usr/include; a plain -I there would put
  # the host's C headers ahead of MinGW's, so expose only the nlohmann folder.
  set(TOVANI_NLOHMANN_DIR ${CMAKE_BINARY_DIR}/third_party_include)
  file(MAKE_DIRECTORY ${TOVANI_NLOHMANN_DIR})
  if(NOT EXISTS ${TOVANI_NLOHMANN_DIR}/nlohmann)
    file(CREATE_LINK /usr/include/nlohmann ${TOVANI_NLOHMANN_DIR}/nlohmann SYMBOLIC)
  endif()
  target_include_directories(tovani_platform_deps SYSTEM INTERFACE ${TOVANI_NLOHMANN_DIR})
  target_compile_definitions(tovani_platform_deps INTERFACE
      UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
  target_link_libraries(tovani_platform_deps INTERFACE
      bcrypt winhttp crypt32 wintrust ws2_32 ole32 oleaut32 wbemuuid advapi32 shell32 user32 gdi32 gdiplus version winspool)
  target_link_options(tovani_platform_deps INTERFACE -static)
  # qpdf, for the watermark on a PDF document to print (player/pdf_watermark.cpp).
  include(${CMAKE_CURRENT_LIST_DIR}/TovaniQpdfWin.cmake)
  target_link_libraries(tovani_platform_deps INTERFACE tovani_qpdf_win)
else()
  find_package(nlohmann_json 3.11 REQUIRED)
  find_package(OpenSSL 3 REQUIRED)
  find_package(CURL REQUIRED)
  find_package(Threads REQUIRED)
  # qpdf adds the watermark to a PDF document to print.
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(QPDF REQUIRED IMPORTED_TARGET libqpdf)
  target_link_libraries(tovani_platform_deps INTERFACE
      nlohmann_json::nlohmann_json OpenSSL::SSL OpenSSL::Crypto CURL::libcurl Threads::Threads PkgConfig::QPDF)
endif()
