# Flags shared by every target of the project.

# Every binary carries its C++ runtime: Windows has no libstdc++, libgcc or
# winpthread DLL, so a dynamic link would fail to load there and under Wine.
add_link_options(-static -static-libgcc -static-libstdc++)

add_compile_definitions(UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)

if(PROJECT_HARDENING)
  # UB traps need no runtime library on this target; fortify needs libssp.
  add_compile_options(-fsanitize=undefined -fsanitize-undefined-trap-on-error
                      -fstack-protector-strong)
  add_compile_definitions(_FORTIFY_SOURCE=2)
  link_libraries(ssp)
endif()

# Warnings as errors for the project's own code only (not GoogleTest's).
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE -Wall -Wextra -Werror)

# rapidjson warns under -Wall -Wextra: take it as a system header. Its parent
# folder is the host's /usr/include, whose C headers must never reach the cross
# compiler, so the build gets a folder that holds nothing but a link to it.
set(PROJECT_RAPIDJSON_ROOT ${CMAKE_BINARY_DIR}/rapidjson-include)
file(MAKE_DIRECTORY ${PROJECT_RAPIDJSON_ROOT})
file(CREATE_LINK /usr/include/rapidjson ${PROJECT_RAPIDJSON_ROOT}/rapidjson SYMBOLIC)
add_library(project_rapidjson INTERFACE)
target_include_directories(project_rapidjson SYSTEM INTERFACE ${PROJECT_RAPIDJSON_ROOT})
target_compile_definitions(project_rapidjson INTERFACE RAPIDJSON_HAS_STDSTRING=1)
# The library's own checks throw instead of ending the process.
target_compile_options(project_rapidjson INTERFACE -include ${CMAKE_SOURCE_DIR}/cmake/JsonLibraryCheck.h)

# project_sources(<target> <folder>): every .cpp/.rc below the folder.
function(project_glob_sources out dir)
  file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  set(${out} ${found} PARENT_SCOPE)
endfunction()
