# Makes duoptica-combine(1) from the program's own --help, with the examples and the
# cross-reference of the include file, compressed as Debian installs manual pages.
#   cmake -DHELP2MAN=... -DGZIP=... -DPROGRAM=... -DINCLUDE=... -DOUTPUT=.../duoptica-combine.1
#         -P combine_manual_page.cmake
# A sanitizer build's leak report at exit would fail help2man for nothing that concerns the page.
set(ENV{ASAN_OPTIONS} detect_leaks=0)
execute_process(COMMAND ${HELP2MAN} --no-info --include ${INCLUDE} ${PROGRAM}
                OUTPUT_VARIABLE page RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "help2man could not make a page of ${PROGRAM}: ${failed}")
endif()
# help2man makes the help's "Exit status:" a subsection of OPTIONS; manual pages give it a section.
set(subsection ".SS \"Exit status:\"")
string(FIND "${page}" "${subsection}" at)
if(at LESS 0)
    message(FATAL_ERROR "the --help of ${PROGRAM} no longer lists its exit statuses")
endif()
string(REPLACE "${subsection}" ".SH \"EXIT STATUS\"" page "${page}")
file(WRITE ${OUTPUT} "${page}")
execute_process(COMMAND ${GZIP} -9nf ${OUTPUT} RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "gzip could not compress ${OUTPUT}")
endif()
