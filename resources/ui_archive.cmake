# The interface files packed into one archive at build time, as the static library
# interface_archive (header interface_archive.h) that the executable links.
file(GLOB_RECURSE interface_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/ui/*)
set(interface_archive_source ${CMAKE_CURRENT_BINARY_DIR}/interface_archive.cpp)
add_custom_command(
    OUTPUT ${interface_archive_source}
    COMMAND ui_archive_pack ${CMAKE_CURRENT_LIST_DIR}/ui ${interface_archive_source}
    DEPENDS ui_archive_pack ${interface_files}
    COMMENT "Packing the interface archive"
    VERBATIM)
add_library(interface_archive STATIC ${interface_archive_source})
add_library(tallorin::interface_archive ALIAS interface_archive)
target_include_directories(interface_archive PUBLIC ${CMAKE_CURRENT_LIST_DIR}/include)
target_link_libraries(interface_archive PRIVATE tallorin::options)
