# Writes the manual page prg.1 from what `prg --help` prints, so that the two never
# disagree. Run by the build with PRG (the built tool) and OUT (the page) set.
execute_process(COMMAND "${PRG}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "prg --help failed: ${status}")
endif()
# roff reads a backslash as an escape and a leading dot or apostrophe as a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" help "${help}")
file(WRITE "${OUT}" ".TH PRG 1 \"\" \"prg ${VERSION}\" \"User Commands\"
.SH NAME
prg \\- natural join of the tables in one text file
.SH DESCRIPTION
.nf
${help}.fi
")
