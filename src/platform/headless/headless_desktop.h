// The headless desktop: records what the core asks of the desktop, for tests.
#pragma once

#include <string>
#include <vector>

// Every title set so far, oldest first.
std::vector<std::string> headless_titles();
// Forgets the recorded calls.
void headless_reset();
