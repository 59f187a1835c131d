#include "sciter/sapi.h"

#include <windows.h>

#include <cstdlib>

namespace {

const SciterApiTable* LoadTable() {
    const SciterApiTable* table = nullptr;
    if (const HMODULE library = LoadLibraryW(L"sciter.dll")) {
        if (const auto export_address = GetProcAddress(library, kSciterApiExportName)) {
            table = reinterpret_cast<SciterAPI_ptr>(export_address)();
        } else {
            FreeLibrary(library);
        }
    }
    if (table == nullptr) {
        std::exit(-1);  // no engine, no window: nothing to show or log yet
    }
    return table;
}

}  // namespace

const SciterApiTable* SAPI() {
    static const SciterApiTable* const table = LoadTable();
    return table;
}
