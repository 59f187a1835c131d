# The interface files packed into one archive at build time, as the static library
# interface_archive (header interface_archive.h) that the executable links.
file(GLOB_RECURSE interface_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/ui/*)

# The fonts that ui/fonts.css declares, packed under fonts/ (fonts/README.md says whence).
set(roboto_font /usr/share/fonts/truetype/roboto/unhinted/RobotoTTF/Roboto-Regular.ttf)
if(NOT EXISTS ${roboto_font})
    message(FATAL_ERROR "${roboto_font} is missing: install fonts-roboto-unhinted (scripts/setup.sh)")
endif()
set(interface_fonts
    fonts/Roboto-Regular.ttf=${roboto_font}
    fonts/montserrat-latin-400-normal.woff2=${CMAKE_CURRENT_LIST_DIR}/fonts/montserrat-latin-400-normal.woff2)
# The archive tests pack the same files.
set_property(GLOBAL PROPERTY TALLORIN_INTERFACE_FONTS "${interface_fonts}")
set(interface_font_files ${interface_fonts})
list(TRANSFORM interface_font_files REPLACE "^[^=]*=" "")

set(interface_archive_source ${CMAKE_CURRENT_BINARY_DIR}/interface_archive.cpp)
add_custom_command(
    OUTPUT ${interface_archive_source}
    COMMAND ui_archive_pack ${CMAKE_CURRENT_LIST_DIR}/ui ${interface_archive_source} ${interface_fonts}
    DEPENDS ui_archive_pack ${interface_files} ${interface_font_files}
    COMMENT "Packing the interface archive"
    VERBATIM)
add_library(interface_archive STATIC ${interface_archive_source})
add_library(tallorin::interface_archive ALIAS interface_archive)
target_link_libraries(interface_archive PRIVATE tallorin::options)
