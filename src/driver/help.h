// What `prg --help` and `prg --version` print.
#pragma once

#include <string_view>

// The usage, the file format in brief and the exit statuses.
std::string_view helpText();
// "prg X.Y.Z\n", the version of the build.
std::string_view versionText();
