# Test executables run under Wine, one process per test case.
include(GoogleTest)

set(WINE_LOADER /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader for 64-bit programs")
set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix the tests run in")
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# project_add_gtest(NAME n SOURCES ... LIBS ... [PROPERTIES ...] [EMULATOR runner])
# EMULATOR replaces the Wine runner for this executable (discovery and runs).
# One executable per test group; ctest sees each case as its own test, found
# when ctest starts (the Wine server is up by then, not during the build).
function(project_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;EMULATOR" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  if(NOT T_EMULATOR)
    set(T_EMULATOR ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} test_support GTest::gmock GTest::gtest_main project_warnings)
  set_target_properties(${T_NAME} PROPERTIES CROSSCOMPILING_EMULATOR ${T_EMULATOR})
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} ${T_PROPERTIES})
endfunction()

# Adds every subfolder of the current folder that has a CMakeLists.txt.
function(project_add_subfolders)
  file(GLOB subs LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(sub ${subs})
    if(IS_DIRECTORY ${sub} AND EXISTS ${sub}/CMakeLists.txt)
      add_subdirectory(${sub})
    endif()
  endforeach()
endfunction()
