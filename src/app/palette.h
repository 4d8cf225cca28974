#pragma once
// The program's dark colour palette for the widgets side of the application object.
#include <QPalette>

QPalette tavikPalette();
