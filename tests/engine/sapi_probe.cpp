// Asks for the engine's table and reports that it got one.
#include <cstdio>

#include "sciter/sapi.h"

int main() {
    const SciterApiTable* table = SAPI();
    std::puts(table != nullptr ? "table" : "none");
    return 0;
}
