#pragma once
// What the main window's floating look is made of.
#include "alphablend.h"
#include "cooltrayicon.h"
#include "screengrab.h"
#include "themes.h"
