# Packaging the Windows programs: the zip an operator copies to a line PC.
#   cmake -S . -B build-win64-release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_BUILD_TYPE=Release -DZT_TEST_HOOKS=OFF
#   cmake --build build-win64-release --target zemtabulo zemtabulo-station zemtabulo-cli
#   cd build-win64-release && cpack
# One flat folder, zemtabulo-VERSION-win64/: the programs are linked statically, so the three
# .exe, their wave files and README.txt are all there is. The station window runs
# zemtabulo-cli.exe from its own folder, so the two stay side by side.

# cpack packs what the three targets built; the tests of this configuration are not built for it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
install(TARGETS zemtabulo zemtabulo-station zemtabulo-cli RUNTIME DESTINATION .)
# The copies the build placed beside the programs, where the desktop program looks for them.
foreach(wave ringin.wav carib.wav end.wav)
  install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${wave} DESTINATION .)
endforeach()

# README.txt for Notepad: CR LF line ends, the version filled in.
configure_file(${CMAKE_SOURCE_DIR}/docs/README-win64.txt.in ${CMAKE_BINARY_DIR}/README.txt @ONLY
               NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zemtabulo)
set(CPACK_PACKAGE_VENDOR ZemTabulo)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Writes screen data and settings into V3 display devices")
set(CPACK_PACKAGE_FILE_NAME zemtabulo-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
# Never a build with the test hooks (cmake/refuse-test-hooks.cmake).
set(CPACK_ZT_TEST_HOOKS ${ZT_TEST_HOOKS})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/refuse-test-hooks.cmake)
include(CPack)
