# The executable's resource table, compiled from resources.list. The interface archive and
# the icons join the list as further lines; a generated file is added under DEPENDS.
include(${PROJECT_SOURCE_DIR}/cmake/ResourceTable.cmake)
tallorin_add_resource_table(tallorin_resources
    LIST resources.list
    SEARCH ${CMAKE_CURRENT_BINARY_DIR}
    DEPENDS ${localization_zip})
add_library(tallorin::resources ALIAS tallorin_resources)
