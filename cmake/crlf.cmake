# cmake -DIN=<text file> -DOUT=<copy> -P crlf.cmake
# Copies a text file with every line ended by CR LF, whatever ends its lines now, and
# ends a last line that has no line end.
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REGEX REPLACE "\n$" "" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}\r\n")
