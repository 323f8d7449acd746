// Device setup functions; declared with the rest of the subset in windows.h.
#pragma once
#include <windows.h>
