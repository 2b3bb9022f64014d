#pragma once

// The panel widgets the main window wires. The icon grid is still being built on its own branch: until its
// header exists the window is built without it, and every place that wires it is marked with
// KTR_HAVE_ICONGRID. The switch goes once it has landed.
#include "panel/bottombar.h"
#include "panel/sidebar.h"
#include "panel/titlebaractions.h"

#if __has_include("panel/icongrid.h")
#include "panel/icongrid.h"
#define KTR_HAVE_ICONGRID 1
#else
#define KTR_HAVE_ICONGRID 0
class IconGrid;
#endif
