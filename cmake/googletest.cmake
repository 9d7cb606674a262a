# GoogleTest from Debian's source package, built with the same compiler and flags as the code
# under test (MinGW-w64 for the Windows side, host g++ with sanitizers natively).
set(MIRU_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
if(BUILD_TESTING)
    add_subdirectory(${MIRU_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
