# cmake -DREADME=<file> -DEXAMPLE=<file> -P ReadmeShows.cmake: fails unless README holds the
# whole text of EXAMPLE, so the program the README shows is the one the tests build and run.
file(READ ${README} readme)
file(READ ${EXAMPLE} example)
string(FIND "${readme}" "${example}" at)
if(at EQUAL -1)
    message(FATAL_ERROR "${README} does not show ${EXAMPLE} as it is")
endif()
