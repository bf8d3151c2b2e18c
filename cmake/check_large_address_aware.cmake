# Fails when the Windows program FILE lacks IMAGE_FILE_LARGE_ADDRESS_AWARE in its PE header:
# without it a 32-bit installer gets 2 GB of address space and cannot map and inflate the
# large files that the packer accepts.
# Usage: cmake -DFILE=<program.exe> -P check_large_address_aware.cmake
file(READ "${FILE}" dos_header LIMIT 4 OFFSET 60 HEX)
string(SUBSTRING "${dos_header}" 0 2 b0)
string(SUBSTRING "${dos_header}" 2 2 b1)
string(SUBSTRING "${dos_header}" 4 2 b2)
math(EXPR pe_offset "0x${b2}${b1}${b0}")
# "PE\0\0", then Machine (2), NumberOfSections (2), TimeDateStamp (4), PointerToSymbolTable
# (4), NumberOfSymbols (4), SizeOfOptionalHeader (2): Characteristics is 22 bytes in.
math(EXPR characteristics_offset "${pe_offset} + 22")
file(READ "${FILE}" characteristics LIMIT 2 OFFSET ${characteristics_offset} HEX)
string(SUBSTRING "${characteristics}" 0 2 low)
string(SUBSTRING "${characteristics}" 2 2 high)
math(EXPR flags "0x${high}${low}" OUTPUT_FORMAT HEXADECIMAL)
math(EXPR large_address_aware "${flags} & 0x20")
if(large_address_aware EQUAL 0)
  message(FATAL_ERROR "${FILE} is not large-address-aware (PE characteristics ${flags})")
endif()
