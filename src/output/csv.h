// The files of an export of tables as CSV, for moving them into other tools.
#pragma once

#include <span>
#include <string>
#include <string_view>

// The file a table is exported to: its name, with each byte that a reader of file
// names could take for a pattern, a path or a home folder written as %XX (*, ?, [,
// ], {, }, %, /, bytes below 0x20, and a leading ~ or .), then ".csv". Two names
// never give one file, and no file name is a pattern.
std::string csvFileName(std::string_view table);
