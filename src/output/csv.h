// Tables in standard CSV (RFC 4180), for moving them into other tools: fields
// separated by commas, lines ended by CRLF, a field double-quoted where it holds a
// comma, a double quote or a line end, with its double quotes doubled.
#pragma once

#include <span>
#include <string>
#include <string_view>

// Appends one record of fields and its line end to out.
void appendCsvRecord(std::string& out, std::span<const std::string_view> fields);

// The file a table is exported to: its name, with each byte that a reader of file
// names could take for a pattern, a path or a home folder written as %XX (*, ?, [,
// ], {, }, %, /, bytes below 0x20, and a leading ~ or .), then ".csv". Two names
// never give one file, and no file name is a pattern.
std::string csvFileName(std::string_view table);
