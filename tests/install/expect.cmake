# expect(<text> <part> <what>): fails the script unless <text> holds <part>.
function(expect text part what)
  string(FIND "${text}" "${part}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${what}: '${part}' not in:\n${text}")
  endif()
endfunction()
