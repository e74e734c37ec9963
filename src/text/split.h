// The quote-aware field splitter used for the join header, table descriptors, data
// lines and column keys.
//
// A line is cut at every separator byte that stands outside an apostrophe-quoted
// stretch. Apostrophes stay in the fields; an apostrophe directly after a backslash
// does not open or close a quote, unless that backslash itself follows a backslash.
// No byte is ever removed from a field. An empty line gives no field at all, and a
// separator at the very end of a line closes the last field without opening another.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Cuts line into fields that are views into line; fields is cleared first. Where
// the machine has them, 16 bytes are looked at a time.
void splitInto(std::string_view line, char separator, std::vector<std::string_view>& fields);
// The same cut a byte at a time: the reference the wide one is tested against.
void splitIntoPlainly(std::string_view line, char separator, std::vector<std::string_view>& fields);

// The fields of line without its spaces around them: splitInto of the line without
// the spaces at its ends, each field without the spaces at its ends (a field of
// spaces alone is the empty view at its end).
void splitTrimmedInto(std::string_view line, char separator, std::vector<std::string_view>& fields);

// How many fields splitInto cuts line into, without making them.
std::size_t fieldCount(std::string_view line, char separator);

// Of the line that starts at start in text, up to its "\n" or text's end (a "\r"
// right before either belongs to the line end): the line, and its fields as
// splitTrimmedInto cuts them, its end found in the same pass as its cuts. Returns
// where the next line starts.
std::size_t splitTrimmedLineAt(std::string_view text, std::size_t start, char separator,
                               std::vector<std::string_view>& fields, std::string_view& line);
// The same, with the count of fields fieldCount finds in the line without the
// spaces at its ends, instead of the fields.
std::size_t fieldCountOfLineAt(std::string_view text, std::size_t start, char separator,
                               std::size_t& count, std::string_view& line);

// Same cut, returning owned copies of the fields.
std::vector<std::string> split(const std::string& line, char separator);

// Where the apostrophe that opens a quote never closed stands in line; npos when
// every quote is closed.
std::size_t unclosedQuoteAt(std::string_view line);
