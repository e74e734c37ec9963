# Writes the manual page prg.1 from what `prg --help` prints, so that the two never
# disagree: its parts become the page's sections. Run by the build with PRG (the
# built tool), OUT (the page) and VERSION set.
execute_process(COMMAND "${PRG}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "prg --help failed: ${status}")
endif()
# roff reads a backslash as an escape and a leading dot or apostrophe as a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" help "${help}")

# The text of help from the line that starts with `from` up to the one that starts
# with `to` (or the end), without those headings.
function(part from to name)
  string(FIND "${help}" "${from}" begin)
  if(begin EQUAL -1)
    message(FATAL_ERROR "prg --help has no \"${from}\"")
  endif()
  string(LENGTH "${from}" skip)
  math(EXPR begin "${begin} + ${skip}")
  string(SUBSTRING "${help}" ${begin} -1 rest)
  if(NOT to STREQUAL "")
    string(FIND "${rest}" "${to}" end)
    string(SUBSTRING "${rest}" 0 ${end} rest)
  endif()
  # Only line ends go: the first line keeps its indent, as in the help.
  string(REGEX REPLACE "^\n+" "" rest "${rest}")
  string(REGEX REPLACE "[\n ]+$" "" rest "${rest}")
  set(${name} "${rest}" PARENT_SCOPE)
endfunction()

part("Joins the tables " "  prg [options]" about)
part("\n  prg [options] [inputfile] [outputfile]\n" "Options, before" examples)
part("Options, before the file names:\n" "The input file:" options)
part("The input file:\n" "Exit status:" input)
part("Exit status: " "" statuses)

file(WRITE "${OUT}" ".TH PRG 1 \"\" \"prg ${VERSION}\" \"User Commands\"
.SH NAME
prg \\- join the tables of one text file on the columns they share
.SH SYNOPSIS
.B prg
[\\fIoptions\\fR] [\\fIinputfile\\fR [\\fIoutputfile\\fR]]
.br
.B prg --csv
\\fIfolder\\fR [\\fIinputfile\\fR]
.SH DESCRIPTION
Joins the tables ${about}
.PP
The input file:
.nf
${input}
.fi
.SH OPTIONS
.nf
${options}
.fi
.SH EXIT STATUS
${statuses}
.SH FILES
.TP
.I input1k.txt, output1k.txt
The input and output read and written when no file is named.
.TP
.I .<output>.<random>
The output while it is written, beside its name; it takes the name once complete.
.SH EXAMPLES
.nf
${examples}
  prg --result csv in.txt - | head
  prg --csv out in.txt && cd out && duckdb < join.sql
.fi
")
