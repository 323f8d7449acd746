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
# Only the lists of src/sources.cmake: no testbed file can reach the DLL.
add_library(orrivane SHARED ${ORRIVANE_LIBRARY_SOURCES} ${ORRIVANE_DLL_SOURCES})
add_dependencies(orrivane zantbios_implib)
target_link_libraries(orrivane PRIVATE orrivane_headers)
target_include_directories(orrivane PRIVATE ${ORRIVANE_GENERATED_INCLUDE})
target_compile_definitions(orrivane PRIVATE ORRIVANE_BUILD)
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

# The same for Microsoft's linker: a caller compiled with Microsoft's tools
# asks for _Orrivane_GetBIOSFileInfo@28; the library (llvm-dlltool -k) binds
# that to the undecorated export Orrivane_GetBIOSFileInfo.
find_program(LLVM_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool REQUIRED)
set(ORRIVANE_MSVC_IMPLIB ${CMAKE_BINARY_DIR}/ORRIVANE.lib)
add_custom_command(TARGET orrivane POST_BUILD
  COMMAND ${LLVM_DLLTOOL} -m i386 -k -d ${ORRIVANE_DEF} -D ORRIVANE.DLL -l ${ORRIVANE_MSVC_IMPLIB}
  BYPRODUCTS ${ORRIVANE_MSVC_IMPLIB}
  COMMENT "Import library of ORRIVANE.DLL for Microsoft's linker")

install(TARGETS orrivane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/orrivane.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${ORRIVANE_IMPLIB} ${ORRIVANE_MSVC_IMPLIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${ORRIVANE_DEF} DESTINATION ${CMAKE_INSTALL_LIBDIR} RENAME ORRIVANE.def)
install(FILES ${PROJECT_SOURCE_DIR}/docs/calling.md ${PROJECT_SOURCE_DIR}/docs/examples/compare_bios.c
        DESTINATION doc)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/README-callers.txt DESTINATION . RENAME README.txt)

# A C caller of every export, linked without the linker's stdcall fix-ups, so
# a declaration that disagrees with the export list fails the build.
add_executable(orrivane_caller ${PROJECT_SOURCE_DIR}/tests/dll/caller.c)
add_dependencies(orrivane_caller orrivane)
target_include_directories(orrivane_caller PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_compile_options(orrivane_caller PRIVATE -std=c11 -Wall -Wextra -Werror)
target_link_options(orrivane_caller PRIVATE -Wl,--disable-stdcall-fixup)
target_link_libraries(orrivane_caller PRIVATE ${ORRIVANE_IMPLIB})

# The example of docs/calling.md, built as a caller would build it.
add_executable(compare_bios ${PROJECT_SOURCE_DIR}/docs/examples/compare_bios.c)
add_dependencies(compare_bios orrivane)
target_include_directories(compare_bios PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_compile_options(compare_bios PRIVATE -std=c99 -Wall -Wextra -Werror)
target_link_options(compare_bios PRIVATE -Wl,--disable-stdcall-fixup)
target_link_libraries(compare_bios PRIVATE ${ORRIVANE_IMPLIB})

include(CTest)
if(BUILD_TESTING)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(ORRIVANE_DLL_CHECK ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/dll/check_dll.py
      --objdump ${TOOLCHAIN_PREFIX}-objdump --windres ${TOOLCHAIN_PREFIX}-windres
      --expected ${PROJECT_SOURCE_DIR}/tests/dll)
  foreach(check machine exports imports version caller)
    add_test(NAME dll_${check}
             COMMAND ${ORRIVANE_DLL_CHECK} ${check} $<TARGET_FILE:orrivane> $<TARGET_FILE:orrivane_caller>)
  endforeach()

  # A caller built with clang and lld-link for Microsoft's toolchain, linked
  # against ORRIVANE.lib alone; and the package a caller downloads.
  find_program(CLANG NAMES clang-14 clang REQUIRED)
  find_program(LLD_LINK NAMES lld-link-14 lld-link REQUIRED)
  find_program(LLVM_READOBJ NAMES llvm-readobj-14 llvm-readobj REQUIRED)
  set(ORRIVANE_RELEASE_CHECK ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/release/check_release.py)
  add_test(NAME dll_msvc_import_library
           COMMAND ${ORRIVANE_RELEASE_CHECK} msvc --clang ${CLANG} --lld-link ${LLD_LINK} --readobj ${LLVM_READOBJ}
                   --include ${PROJECT_SOURCE_DIR}/include --source ${PROJECT_SOURCE_DIR}/tests/release/msvc_caller.c
                   --work ${CMAKE_BINARY_DIR}/msvc-caller --import-library ${ORRIVANE_MSVC_IMPLIB})
  add_test(NAME package_zip
           COMMAND ${ORRIVANE_RELEASE_CHECK} zip --cpack ${CMAKE_CPACK_COMMAND} --build ${CMAKE_BINARY_DIR}
                   --work ${CMAKE_BINARY_DIR}/package-check)
endif()
