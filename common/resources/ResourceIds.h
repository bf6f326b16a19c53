// Resource ids shared by both programs' resource scripts and the window code.
#pragma once
#define IDI_VLMAPP 1
// The button glyphs at 16 pixels, and at 20, 24 and 32 for 125, 150 and 200 %.
#define IDB_ILBUTTON 100
#define IDB_ILBUTTON125 101
#define IDB_ILBUTTON150 102
#define IDB_ILBUTTON200 103
