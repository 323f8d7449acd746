# ORRIVANE.DLL: the library sources with the real Windows API.
set(ZANTBIOS_IMPLIB ${CMAKE_BINARY_DIR}/libzantbios.a)
add_custom_command(
  OUTPUT ${ZANTBIOS_IMPLIB}
  COMMAND ${TOOLCHAIN_PREFIX}-dlltool -k -d ${PROJECT_SOURCE_DIR}/src/hwaccess/zantbios.def -l ${ZANTBIOS_IMPLIB}
  DEPENDS ${PROJECT_SOURCE_DIR}/src/hwaccess/zantbios.def
  COMMENT "Import library of the service library")
add_custom_target(zantbios_implib DEPENDS ${ZANTBIOS_IMPLIB})

add_library(orrivane SHARED ${ORRIVANE_SOURCES} ${PROJECT_SOURCE_DIR}/src/hwaccess/platform_io_win32.cpp
                            ${PROJECT_SOURCE_DIR}/src/interface/dllmain.cpp
                            ${PROJECT_SOURCE_DIR}/src/interface/orrivane.def)
add_dependencies(orrivane zantbios_implib)
target_include_directories(orrivane PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
target_compile_options(orrivane PRIVATE ${ORRIVANE_LIB_FLAGS})
set_target_properties(orrivane PROPERTIES PREFIX "" OUTPUT_NAME "ORRIVANE" SUFFIX ".DLL"
                                          IMPORT_PREFIX "lib" IMPORT_SUFFIX ".dll.a")
target_link_options(orrivane PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at)
target_link_libraries(orrivane PRIVATE ${ZANTBIOS_IMPLIB} kernel32 user32 advapi32 setupapi)
