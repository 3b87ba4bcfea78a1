#pragma once

// Makes "Arial" a font family of its own where the system has no Arial but has its
// metric-compatible stand-in, Liberation Sans: the stand-in's files are added to the program's
// fonts once more under the name Arial. The font dialog then lists and preselects Arial, and the
// boxes, the dialog and the stamp all draw the same face, with the same line breaks, by the same
// name. Runs by itself when the application object is created, before any font is looked up (a
// later call changes nothing the font list already shows); does nothing where a real Arial is
// installed or where the fonts are not managed by fontconfig.
void ProvideArialFamily();

// True when Arial is one of the program's own additions (the stand-in's files under Arial's
// name), false when the system's Arial is used or none is available.
bool ArialIsStandIn();
