// Resource ids shared by both programs' resource scripts and the window code.
#pragma once
#define IDI_VLMAPP 1
#define IDB_ILBUTTON 100
