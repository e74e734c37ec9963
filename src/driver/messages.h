// Every line the run itself prints on the console, each text once. Failures and
// the lines of a run that goes well are the ones people and scripts know; their
// spelling is theirs and stays as it is, typos included.
#pragma once

#include <string_view>

namespace message {

// The lines of a run that goes well, which --quiet leaves out.
inline constexpr std::string_view kUsage = "Usage: prg [inputfile] [outputfile]\n";
inline constexpr std::string_view kOpeningInput = "Opening input file: ";    // + name
inline constexpr std::string_view kOpeningOutput = "Opening output file: ";  // + name
inline constexpr std::string_view kParsed = "Parsing the input file complete.\n";
inline constexpr std::string_view kJoining = "Joining the tables: ";  // then a dot a step
inline constexpr std::string_view kJoined = "\nJoin complete.\n";
inline constexpr std::string_view kWritten = "Output written.";

// A failure's own lines.
inline constexpr std::string_view kCantGuessOutput =
    "Can't gues the output file. Input file name should look like input***** to gues the "
    "output file \n";
inline constexpr std::string_view kTooManyArguments = "Too many arguments!\n";
inline constexpr std::string_view kCantOpenInput = "Can't open input file!\n";
inline constexpr std::string_view kCantReadInput = "Can't read input file!\n";
inline constexpr std::string_view kCantOpenOutput = "Can't open output file!\n";
inline constexpr std::string_view kSameFiles = "Input and output file are the same!\n";
inline constexpr std::string_view kCantWriteOutput = "Can't write output file!\n";
inline constexpr std::string_view kBadDescriptor = "Error parsing tableDescriptor: ";  // + line
inline constexpr std::string_view kBadTableData =
    "Error reading table data from table: ";  // + name
inline constexpr std::string_view kNoTables = "No tables in to join !\n";
inline constexpr std::string_view kTableMissingBefore = "Table ";  // + name
inline constexpr std::string_view kTableMissingAfter = "not found!\n";
inline constexpr std::string_view kOutOfMemory = "Not enough memory!\n";

}  // namespace message
