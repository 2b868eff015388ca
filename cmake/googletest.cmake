# googletest from Debian's source package, built with the project's compiler
# (natively or cross for Windows).
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "googletest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
