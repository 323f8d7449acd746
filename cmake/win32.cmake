# ORRIVANE.DLL: the library sources with the real Windows API.
enable_language(RC)

set(ZANTBIOS_IMPLIB ${CMAKE_BINARY_DIR}/libzantbios.a)
add_custom_command(
  OUTPUT ${ZANTBIOS_IMPLIB}
  COMMAND ${TOOLCHAIN_PREFIX}-dlltool -k -d ${PROJECT_SOURCE_DIR}/src/hwaccess/zantbios.def -l ${ZANTBIOS_IMPLIB}
  DEPENDS ${PROJECT_SOURCE_DIR}/src/hwaccess/zantbios.def
  COMMENT "Import library of the service library")
add_custom_target(zantbios_implib DEPENDS ${ZANTBIOS_IMPLIB})

set(ORRIVANE_DEF ${PROJECT_SOURCE_DIR}/src/interface/orrivane.def)
add_library(orrivane SHARED ${ORRIVANE_SOURCES} ${PROJECT_SOURCE_DIR}/src/hwaccess/platform_io_win32.cpp
                            ${PROJECT_SOURCE_DIR}/src/interface/dllmain.cpp
                            ${PROJECT_SOURCE_DIR}/src/interface/version.rc
                            ${ORRIVANE_DEF})
add_dependencies(orrivane zantbios_implib)
target_include_directories(orrivane PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
target_compile_options(orrivane PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${ORRIVANE_LIB_FLAGS}>")
# The import library the linker writes under --kill-at names the undecorated
# symbols, which stdcall callers never ask for; it is parked aside and the
# real one is made from the export list below.
set_target_properties(orrivane PROPERTIES PREFIX "" OUTPUT_NAME "ORRIVANE" SUFFIX ".DLL"
                                          IMPORT_PREFIX "lib" IMPORT_SUFFIX ".dll.a"
                                          ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/linker-implib)
target_link_options(orrivane PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at)
target_link_libraries(orrivane PRIVATE ${ZANTBIOS_IMPLIB} kernel32 user32 advapi32 setupapi)

# Callers' import library: Orrivane_GetBIOSROMInfo@32 and the like, each
# bound to the undecorated export of the same ordinal (dlltool -k).
set(ORRIVANE_IMPLIB ${CMAKE_BINARY_DIR}/libORRIVANE.dll.a)
add_custom_command(TARGET orrivane POST_BUILD
  COMMAND ${TOOLCHAIN_PREFIX}-dlltool -k -d ${ORRIVANE_DEF} -D ORRIVANE.DLL -l ${ORRIVANE_IMPLIB}
  BYPRODUCTS ${ORRIVANE_IMPLIB}
  COMMENT "Import library of ORRIVANE.DLL")

# A C caller of every export, linked without the linker's stdcall fix-ups, so
# a declaration that disagrees with the export list fails the build.
add_executable(orrivane_caller ${PROJECT_SOURCE_DIR}/tests/dll/caller.c)
add_dependencies(orrivane_caller orrivane)
target_include_directories(orrivane_caller PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_compile_options(orrivane_caller PRIVATE -std=c11 -Wall -Wextra -Werror)
target_link_options(orrivane_caller PRIVATE -Wl,--disable-stdcall-fixup)
target_link_libraries(orrivane_caller PRIVATE ${ORRIVANE_IMPLIB})

include(CTest)
if(BUILD_TESTING)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(ORRIVANE_DLL_CHECK ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/dll/check_dll.py
      --objdump ${TOOLCHAIN_PREFIX}-objdump --windres ${TOOLCHAIN_PREFIX}-windres
      --expected ${PROJECT_SOURCE_DIR}/tests/dll)
  foreach(check machine exports imports version caller registers)
    add_test(NAME dll_${check}
             COMMAND ${ORRIVANE_DLL_CHECK} ${check} $<TARGET_FILE:orrivane> $<TARGET_FILE:orrivane_caller>)
  endforeach()
endif()
