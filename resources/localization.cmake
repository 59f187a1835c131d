# The localization zip: config.json and the catalogues compiled by msgfmt, packed by
# tools/localization_zip into ${localization_zip}.
find_program(MSGFMT msgfmt REQUIRED)

# The example address of the invalid-address text, kept once for the catalogues, the
# interface's script and the tests (the global property TALLORIN_EXAMPLE_EMAIL_ADDRESS).
file(STRINGS localization/example_email_address.txt EXAMPLE_EMAIL_ADDRESS LIMIT_COUNT 1)
set_property(GLOBAL PROPERTY TALLORIN_EXAMPLE_EMAIL_ADDRESS ${EXAMPLE_EMAIL_ADDRESS})

# The zip's entry order is the order of this list.
set(languages English French German Spanish)
set(localization_files ${CMAKE_CURRENT_SOURCE_DIR}/localization/config.json)
foreach(language ${languages})
    set(po ${CMAKE_CURRENT_BINARY_DIR}/localization/${language}.po)
    set(mo ${CMAKE_CURRENT_BINARY_DIR}/localization/${language}.mo)
    configure_file(localization/${language}.po.in ${po} @ONLY)
    add_custom_command(
        OUTPUT ${mo}
        COMMAND ${MSGFMT} --output-file=${mo} ${po}
        DEPENDS ${po}
        COMMENT "Compiling the ${language} catalogue"
        VERBATIM)
    list(APPEND localization_files ${mo})
endforeach()

set(localization_zip ${CMAKE_CURRENT_BINARY_DIR}/localization.zip)
add_custom_command(
    OUTPUT ${localization_zip}
    COMMAND localization_zip ${localization_zip} ${localization_files}
    DEPENDS localization_zip ${localization_files}
    COMMENT "Packing the localization zip"
    VERBATIM)
