# tallorin_add_resource_table(<target> LIST <list> [SEARCH <dir>...] [DEPENDS <file>...])
#
# Compiles a resource list (see resources/resources.list) into an object library <target>.
# Linking <target> into an executable gives it those resources: the generated table registers
# itself with the platform layer at start. SEARCH names the folders of generated files that the
# list refers to; DEPENDS names those files so that they are built first.
function(tallorin_add_resource_table target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "LIST" "SEARCH;DEPENDS")
    get_filename_component(list ${arg_LIST} ABSOLUTE)
    set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}.cpp)
    add_custom_command(
        OUTPUT ${output}
        COMMAND resource_compiler ${list} ${output} ${output}.d ${arg_SEARCH}
        DEPENDS resource_compiler ${list} ${arg_DEPENDS}
        DEPFILE ${output}.d
        COMMENT "Compiling resource list ${arg_LIST}"
        VERBATIM)
    add_library(${target} OBJECT ${output})
    add_library(tallorin::${target} ALIAS ${target})
    target_link_libraries(${target} PUBLIC tallorin::platform PRIVATE tallorin::options)
endfunction()
