# The library's sources, named one by one. ORRIVANE_LIBRARY_SOURCES build both
# the DLL and the host library (orrivane_core, linked with the simulated
# platform); ORRIVANE_DLL_SOURCES only the DLL: the real port instructions and
# window pointers, the entry point, the version resource and the export list.
# Nothing host-only lives under src/: the host build's stand-ins are all in
# testbed/platform/, so the DLL cannot pick one up. scripts/check_layers.py
# fails when a source under src/ is in neither list or in both.
set(ORRIVANE_LIBRARY_SOURCES
    common/byte_view.cpp
    common/pair_scan.cpp
    common/text.cpp
    state/module_state.cpp
    hwaccess/platform_family.cpp
    hwaccess/primitives.cpp
    firmware/ami_record.cpp
    firmware/date_version.cpp
    firmware/identity_area.cpp
    detect/detect_machine.cpp
    detect/extended_identity.cpp
    detect/firmware_tag.cpp
    detect/flash_size.cpp
    detect/model_special_cases.cpp
    detect/onboard_devices.cpp
    detect/rom_description.cpp
    detect/rom_id.cpp
    detect/smbios_scan.cpp
    image/award_scan.cpp
    image/file_size.cpp
    image/identity_records.cpp
    image/image_block.cpp
    image/load_image.cpp
    image/member_expansion.cpp
    image/member_search.cpp
    image/rom_map.cpp
    interface/env_checks.cpp
    interface/exports.cpp)
set(ORRIVANE_DLL_SOURCES
    hwaccess/platform_io_win32.cpp
    interface/dllmain.cpp
    interface/version.rc
    interface/orrivane.def)
list(TRANSFORM ORRIVANE_LIBRARY_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
list(TRANSFORM ORRIVANE_DLL_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
