// Tables in standard CSV (RFC 4180), for moving them into other tools: fields
// separated by commas, lines ended by CRLF, a field double-quoted where it holds a
// comma, a double quote or a line end, with its double quotes doubled.
#pragma once

#include <span>
#include <string>
#include <string_view>

// Appends one record of fields and its line end to out.
void appendCsvRecord(std::string& out, std::span<const std::string_view> fields);
