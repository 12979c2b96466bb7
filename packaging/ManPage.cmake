# Writes the man page tavrilox(1) from the README's "Command line" section:
#   cmake -DREADME=README.md -DOUTPUT=tavrilox.1 -DVERSION=x.y -P ManPage.cmake
# The section's first code block is the synopsis, each "- `--option`: text"
# item an option, every other paragraph part of the description; further
# "### " headings become sections of their own.

file(STRINGS "${README}" lines ENCODING UTF-8)

# Markdown inline code `x` becomes bold; roff escapes for "\" and "-".
function(roff_text text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "`([^`]*)`" "\\\\fB\\1\\\\fR" text "${text}")
  # A line may not start with "." or "'" in roff.
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(inside FALSE)
set(seen FALSE)
set(synopsis "")
set(body "")
set(in_code FALSE)
set(section "DESCRIPTION")
set(opened_description FALSE)
set(after_text FALSE)  # the line before was text of a paragraph or an item
foreach(line IN LISTS lines)
  if(line MATCHES "^## ")
    if(inside)
      break()
    endif()
    if(line STREQUAL "## Command line")
      set(inside TRUE)
      set(seen TRUE)
    endif()
    continue()
  endif()
  if(NOT inside)
    continue()
  endif()
  if(line MATCHES "^### (.*)")
    string(TOUPPER "${CMAKE_MATCH_1}" heading)
    string(APPEND body ".SH \"${heading}\"\n")
    set(opened_description TRUE)
    set(after_text FALSE)
    continue()
  endif()
  if(line MATCHES "^    (.*)")
    set(code "${CMAKE_MATCH_1}")
    if(synopsis STREQUAL "")
      roff_text("${code}" code)
      set(synopsis "${code}")
    else()
      roff_text("${code}" code)
      if(NOT in_code)
        string(APPEND body ".PP\n.nf\n.RS\n")
        set(in_code TRUE)
      endif()
      string(APPEND body "${code}\n")
    endif()
    continue()
  endif()
  if(in_code)
    string(APPEND body ".RE\n.fi\n")
    set(in_code FALSE)
  endif()
  if(line STREQUAL "")
    set(after_text FALSE)
    continue()
  endif()
  if(NOT opened_description)
    string(APPEND body ".SH DESCRIPTION\n")
    set(opened_description TRUE)
  endif()
  if(line MATCHES "^- `([^`]*)`: (.*)")
    roff_text("${CMAKE_MATCH_1}" tag)
    roff_text("${CMAKE_MATCH_2}" text)
    string(APPEND body ".TP\n\\fB${tag}\\fR\n${text}\n")
  elseif(after_text)
    string(STRIP "${line}" line)
    roff_text("${line}" text)
    string(APPEND body "${text}\n")
  else()
    roff_text("${line}" text)
    string(APPEND body ".PP\n${text}\n")
  endif()
  set(after_text TRUE)
endforeach()
if(in_code)
  string(APPEND body ".RE\n.fi\n")
endif()
if(NOT seen OR synopsis STREQUAL "")
  message(FATAL_ERROR "${README}: no \"## Command line\" section with a synopsis")
endif()

file(WRITE "${OUTPUT}"
  ".TH TAVRILOX 1 \"\" \"Tavrilox ${VERSION}\" \"User Commands\"\n"
  ".SH NAME\n"
  "tavrilox \\- local HTTP proxy for 2ch\\-family board readers\n"
  ".SH SYNOPSIS\n"
  ".nf\n${synopsis}\n.fi\n"
  "${body}"
  ".SH SEE ALSO\n"
  "The README of the source distribution.\n")
