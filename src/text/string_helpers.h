// Small byte-string operations the parsers and the file-name logic are written in.
// The only white space anywhere is the space byte 0x20; nothing is locale-aware.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>

// The view without its leading and trailing spaces.
std::string_view trimmedView(std::string_view text);

// A copy of text without its leading and trailing spaces.
std::string trimmedCopy(const std::string& text);

// Removes every occurrence of ch from text in place.
void removeChar(std::string& text, char ch);

// If text begins (ends) with the given prefix (suffix), removes it and returns true;
// otherwise returns false and leaves text unchanged.
bool stripPrefix(std::string& text, const std::string& prefix);
bool stripSuffix(std::string& text, const std::string& suffix);

// The items in order, each one followed by separator: {"a", "b"} with "|" gives "a|b|".
std::string joinStrings(std::span<const std::string_view> items, const char* separator);

// Writes joinStrings(items, separator) and a line end to stream.
void writeJoinedLine(std::span<const std::string_view> items, std::ostream& stream,
                     const char* separator);

// The field diagnostic: writeJoinedLine of items to the console with "|".
void printFields(std::span<const std::string_view> items, std::ostream& console);

// Text as a person can read it on a console: a tab, a carriage return and a line
// feed as \t, \r and \n, a byte order mark as <BOM>, other control bytes as \xNN;
// every other byte as it is.
std::string escapedForConsole(std::string_view text);

// The fewest byte insertions, deletions and substitutions that turn a into b, or
// most + 1 when it takes more than most; in time of about most times their length.
std::size_t editDistance(std::string_view a, std::string_view b, std::size_t most);

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or code points
// past U+10FFFF).
bool isUtf8(std::string_view text);
