# Compiler settings shared by every target of the project.
add_library(project_options INTERFACE)
add_library(tallorin::options ALIAS project_options)

target_compile_options(project_options INTERFACE -Wall -Wextra)
if(TALLORIN_WARNINGS_AS_ERRORS)
    target_compile_options(project_options INTERFACE -Werror)
endif()

if(TALLORIN_SANITIZE)
    target_compile_options(project_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()

if(TALLORIN_SANITIZE_THREAD)
    if(TALLORIN_SANITIZE)
        message(FATAL_ERROR "ThreadSanitizer does not combine with AddressSanitizer: "
                            "set one of TALLORIN_SANITIZE and TALLORIN_SANITIZE_THREAD")
    endif()
    target_compile_options(project_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(project_options INTERFACE -fsanitize=thread)
endif()
