# Writes one stream payload of the database tests at build time:
#   cmake -DOUTPUT=<file> -DSIZE=<bytes> -DSEED=<n> -P stream_payload.cmake
# Its lines are 251 bytes long, so no two 1 MiB blocks of a payload are alike
# and a block copied twice or out of order shows.
set(chars "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
set(unit "")
foreach(i RANGE 249)
    math(EXPR k "(${i} * 7 + ${SEED}) % 62")
    string(SUBSTRING "${chars}" ${k} 1 c)
    string(APPEND unit "${c}")
endforeach()
string(APPEND unit "\n")
math(EXPR count "${SIZE} / 251 + 1")
string(REPEAT "${unit}" ${count} content)
string(SUBSTRING "${content}" 0 ${SIZE} content)
file(WRITE "${OUTPUT}" "${content}")
