# The invalid-address text of the interface must be the catalogues' msgid, which names the
# example address kept in resources/localization/example_email_address.txt.
file(STRINGS ${ADDRESS_FILE} address LIMIT_COUNT 1)
file(READ ${APP_SCRIPT} script)
string(FIND "${script}" "Email must be in form of ${address}\"" found)
if(found EQUAL -1)
    message(FATAL_ERROR "app.js does not name the example address '${address}'")
endif()
