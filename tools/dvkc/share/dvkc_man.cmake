# Builds dvkc.1 from the tool's own help with help2man:
#   cmake -DDVKC=<tool> -DHELP2MAN=<help2man> -DOUT=<dvkc.1> -DWORK=<dir> -P dvkc_man.cmake
# and dvkc.1.gz beside it.
# The subcommands' help becomes the COMMANDS section, kept as printed; the
# subcommands are those `dvkc --help` lists (cli/command.h).
set(include_file "${WORK}/dvkc.h2m")
execute_process(COMMAND "${DVKC}" --help OUTPUT_VARIABLE top RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT top MATCHES "\nSubcommands:\n(([ ][ ][a-z]+[^\n]*\n)+)")
  message(FATAL_ERROR "dvkc --help lists no subcommands")
endif()
string(REPLACE "\n" ";" lines "${CMAKE_MATCH_1}")
set(commands "")
foreach(line IN LISTS lines)
  if(line MATCHES "^  ([a-z]+) ")
    list(APPEND commands "${CMAKE_MATCH_1}")
  endif()
endforeach()
set(text "[COMMANDS]\n")
foreach(command IN LISTS commands)
  execute_process(COMMAND "${DVKC}" ${command} --help
    OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dvkc ${command} --help failed")
  endif()
  # The exit statuses are listed once, after the top-level help.
  string(FIND "${help}" "Exit status:" exit_at)
  if(exit_at GREATER 0)
    string(SUBSTRING "${help}" 0 ${exit_at} help)
    string(REGEX REPLACE "\n+$" "\n" help "${help}")
  endif()
  # roff: a backslash is \e, a line may not start with a dot or a quote.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(APPEND text ".SS \"dvkc ${command}\"\n.nf\n${help}.fi\n")
endforeach()
string(APPEND text "[FILES]\n.TP\n.I /usr/share/bash-completion/completions/dvkc\n"
  "Completion of commands, options and file names for bash.\n"
  "[SEE ALSO]\nThe README of the DVKCDLL sources; \\fBdvkc codes\\fR for every result.\n")
file(WRITE "${include_file}" "${text}")
# The version line alone: the OpenSSL line after it is the machine's, not the page's.
execute_process(COMMAND "${DVKC}" --version OUTPUT_VARIABLE version RESULT_VARIABLE status)
string(REGEX REPLACE "\n.*" "" version "${version}")
execute_process(
  COMMAND "${HELP2MAN}" --no-info --no-discard-stderr --version-string "${version}"
          --name "query the DVK service, run its sample service, explain results"
          --section 1 --include "${include_file}" --output "${OUT}" "${DVKC}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed")
endif()
# Installed compressed, as Debian wants it (-n: no name or time stamp inside).
execute_process(COMMAND gzip -9 -n -c "${OUT}" OUTPUT_FILE "${OUT}.gz" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed")
endif()
