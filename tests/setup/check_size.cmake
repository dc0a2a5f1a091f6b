# Fails when SETUP.EXE is larger than its limit or carries the sections of an executable packer
# (a packed stub would hide its size). Run with -DFILE= -DLIMIT=.
file(SIZE "${FILE}" size)
message(STATUS "${FILE}: ${size} bytes (limit ${LIMIT})")
if(size GREATER LIMIT)
  message(FATAL_ERROR "SETUP.EXE is ${size} bytes, more than ${LIMIT}")
endif()
file(STRINGS "${FILE}" packed REGEX "UPX[0-9!]|\\.aspack|\\.petite|MPRESS" LIMIT_COUNT 1)
if(packed)
  message(FATAL_ERROR "SETUP.EXE looks packed: ${packed}")
endif()
