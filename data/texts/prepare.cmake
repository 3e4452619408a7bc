# Turns a text source into the exact block a scroller reads: the line end an editor leaves is
# dropped, and the rest must be LENGTH characters the dot font can draw (codes 32 to 95).
# cmake -DSOURCE=<text file> -DOUTPUT=<block> -DLENGTH=<characters> -P prepare.cmake
file(READ "${SOURCE}" text)
string(REGEX REPLACE "\r?\n$" "" text "${text}")
get_filename_component(name "${SOURCE}" NAME)

string(REGEX MATCH "[^ -_]" stray "${text}")
if(NOT stray STREQUAL "")
  message(FATAL_ERROR "${name}: character '${stray}' is outside codes 32 to 95 (no lower case, no line breaks)")
endif()
string(LENGTH "${text}" length)
if(NOT length EQUAL LENGTH)
  message(FATAL_ERROR "${name}: ${length} characters, the scroller needs exactly ${LENGTH}")
endif()

file(WRITE "${OUTPUT}" "${text}")
