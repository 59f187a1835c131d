// The two-letter code of the user's default locale, for the report service.
#pragma once

#include <string>

// One of "en", "de", "fr", "it", "es", "pt", "ru", "ja"; "en" for every locale not listed.
std::wstring GetOsLanguage();
