# cmake -DMANIFEST=<file> -P WriteManifest.cmake -- <file>...
# One line per file: its SHA-256 sum, two blanks, its name (the files sit in
# the manifest's own folder).
set(lines "")
set(started FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(index RANGE ${last})
  set(argument "${CMAKE_ARGV${index}}")
  if(started)
    file(SHA256 "${argument}" sum)
    get_filename_component(name "${argument}" NAME)
    string(APPEND lines "${sum}  ${name}\n")
  elseif(argument STREQUAL "--")
    set(started TRUE)
  endif()
endforeach()
file(WRITE "${MANIFEST}" "${lines}")
