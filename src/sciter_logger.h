// The engine's debug output in the program's log: one record per engine message, at the level
// of its severity. Registers itself for every window when made; it must outlive every message
// the engine can send (uimain keeps it for the whole message loop). Nothing unregisters it.
#pragma once

#include "sciter/debug_output.h"

class SciterLogger : public sciter::debug_output {
public:
    SciterLogger();

    // "<SEVERITY>: <SUBSYSTEM>: <text>", the `length` characters at `text` exactly.
    void output(UINT subsystem, UINT severity, const wchar_t* text, UINT length) override;
};
