// kivrel --help: every option of the render command and the other
// commands' lines, as the manual page (docs/kivrel.1) also lists them.
#pragma once

#include <string>

std::string helpText();
