#include "driver/help.h"

std::string_view helpText() {
  return R"(Usage: prg [inputfile] [outputfile]

Joins the tables of a text file on the columns they share, from left to right,
and writes a copy of the input followed by the joined table, named result.

  prg [options] [inputfile] [outputfile]
  prg                   reads input1k.txt, writes output1k.txt
  prg input_x.txt       writes output_x.txt: "input" is replaced by "output"
  prg in.txt out.txt    names both files
  prg - -               reads standard input, writes standard output; the
                        messages then go to standard error

Options, before the file names:
  -h, --help            shows this text
  --version             shows the version
  -q, --quiet           prints only a failure's own lines
  --stats               tells on standard error each stage's time, the rows of
                        the joined tables, peak memory and page faults
  --result csv          the output holds the joined table alone, as CSV (RFC 4180):
                        a line of column keys, then the rows; --result=csv too
  --csv FOLDER          writes each table of the input as FOLDER/<name>.csv
                        (RFC 4180) and FOLDER/join.sql, the join for DuckDB,
                        instead of joining; --csv=FOLDER too
  --                    ends the options: a later name starting with - is a file

The input file:
  join(A, B)            line 1: the tables to join, separated by commas
                        a blank line
  A(id int, name)       a table: its name and its column descriptors; the first
                        word of a descriptor (id) is the column's key
  1, x                  its rows: cells separated by commas, spaces around them
  2, 'Cid, Jr.'         dropped; apostrophes quote commas and stay in the cell,
                        \' does not quote
                        a blank line ends a table
  B(id, price)
  1, 10

Exit status: 0 result written; 1 wrong arguments, or a file that can't be opened
or read; 2 a wrong join header; 3 a wrong table descriptor; 4 a row with the
wrong number of cells; 5 no table named; 6 a named table missing; 7 the output
could not be written; 8 out of memory; 128 + n ended by signal n.
)";
}

std::string_view versionText() {
  return "prg " PRG_VERSION "\n";
}
