# GoogleTest built from Debian's sources (package googletest) with the
# current compiler: the cross builds have no installed GoogleTest to find.
# Defines GTest::gtest and GTest::gtest_main, as find_package(GTest) does.
set(QUORVEL_GOOGLETEST_SOURCE_DIR /usr/src/googletest/googletest
    CACHE PATH "GoogleTest sources (the googletest folder of the googletest package)")
if(NOT EXISTS ${QUORVEL_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${QUORVEL_GOOGLETEST_SOURCE_DIR} "
                      "(Debian: apt-get install googletest)")
endif()

# mingw's win32-threads runtime has no pthreads (GoogleTest then uses Win32
# threads), and g++ 12 there has no std::mutex: the port customisation in
# tests/wine/gtest_custom replaces the one class that needs it.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUORVEL_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
if(MINGW)
  target_include_directories(gtest BEFORE PUBLIC ${PROJECT_SOURCE_DIR}/tests/wine/gtest_custom)
endif()
