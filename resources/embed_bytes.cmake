# Turns a file into a C array so that the library carries it byte for byte.
file(READ "${IN}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
file(WRITE "${OUT}" "#pragma once\nstatic const unsigned char ${NAME}[] = {${body}};\n")
