// The program's compiled-in icons (app.qrc). The resources live in a static
// library, so they are registered by this call rather than by a static
// initialiser that the linker could leave out. Safe to call more than once.
#pragma once

void RegisterIconResources();
