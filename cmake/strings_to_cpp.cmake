# Turns the STRINGTABLE of res/strings.rc into a C++ lookup table for the native build,
# so that both builds show the same texts from one source. Run with -DINPUT= -DOUTPUT=.
file(STRINGS "${INPUT}" lines)
set(body "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*([0-9]+)[ \t]*,[ \t]*\"(.*)\"[ \t]*$")
    set(id "${CMAKE_MATCH_1}")
    set(text "${CMAKE_MATCH_2}")
    string(REPLACE "\"\"" "\\\"" text "${text}")
    string(APPEND body "    {${id}, \"${text}\"},\n")
  endif()
endforeach()
file(WRITE "${OUTPUT}.tmp"
"// Generated from res/strings.rc; do not edit.\n"
"#include \"platform/string_table.h\"\n\n"
"namespace platform {\n"
"const StringEntry kStringTable[] = {\n${body}};\n"
"const size_t kStringTableSize = sizeof kStringTable / sizeof kStringTable[0];\n"
"}  // namespace platform\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
