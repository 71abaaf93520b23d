# Makes the agreement page that the program carries from its readable source:
# one line, no CR or LF bytes, no NUL byte, of a size the program expects.
#   cmake -DINPUT=eula.html -DOUTPUT=eula.single-line.html -P flatten_page.cmake
cmake_minimum_required(VERSION 3.25)

# A NUL byte, looked for in the hexadecimal form, where each byte is two digits.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "(..)" "\\1 " bytes "${hex}")
string(FIND " ${bytes}" " 00 " nul)
if(NOT nul EQUAL -1)
  message(FATAL_ERROR "${INPUT}: holds a NUL byte")
endif()

file(READ "${INPUT}" page)

# Each line break, with the blanks around it and any blank lines after it,
# becomes one space.
string(REGEX REPLACE "[ \t]*[\r\n][\r\n \t]*" " " page "${page}")
string(STRIP "${page}" page)

string(FIND "${page}" "\r" cr)
string(FIND "${page}" "\n" lf)
if(NOT cr EQUAL -1 OR NOT lf EQUAL -1)
  message(FATAL_ERROR "${INPUT}: line breaks remain after flattening")
endif()

file(WRITE "${OUTPUT}" "${page}")
file(SIZE "${OUTPUT}" size)
if(size LESS 16000 OR size GREATER 17500)
  message(FATAL_ERROR "${OUTPUT}: ${size} bytes, outside 16000..17500")
endif()
