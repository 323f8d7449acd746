// Not built yet: lands with its own change.
#include "commands.h"

void AddImageCommands(CLI::App&, int&) {}
