// prg --csv FOLDER [inputfile]: every table of the file as a CSV file of its own,
// for tools that read CSV, and FOLDER/join.sql, the header's join over them.
#pragma once

#include "driver/console.h"
#include "driver/options.h"

// The export the command line asks for; its status as a run's.
int exportTables(const CommandLine& line, Console& console);
