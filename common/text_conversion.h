// Conversions between wide text (Windows, the engine, translated texts) and UTF-8 (JSON, logs,
// HTTP, language names). An empty input or a failed conversion gives an empty result; invalid
// sequences become U+FFFD. Never throws for bad text.
#pragma once

#include <string>

std::string Utf16ToUtf8(const std::wstring& text);
std::wstring Utf8ToUtf16(const std::string& text);
