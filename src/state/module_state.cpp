#include "state/module_state.h"

orr::MachineBiosRecord MachineBios;
orr::ImageBiosRecord ImageBios;
uint32_t g_isNt;
uint32_t g_initialized;
