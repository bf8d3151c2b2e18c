#pragma once
// Where the package of a signed installer ends. A signing tool appends the certificate table
// (Authenticode) after the package, padding the file with up to 7 zero bytes to a multiple
// of 8 first, and records the table in the PE security directory. The package then ends
// where that padding begins; every position in it still counts from the start of the file.
// Portable: no <windows.h>.

#include <cstdint>
#include <optional>

#include "package/format.h"

namespace vorlatch {

struct CertificateTable {
  std::uint64_t offset = 0;  // a file offset
  std::uint64_t size = 0;
};

// The certificate table that the security directory of the image records, when it is
// trustworthy: inside the file, after the headers and the last section's raw data, not
// overflowing, reaching exactly the end of the file, and its first certificate's length
// inside the table. Nothing otherwise (also for an unsigned image or no image at all).
std::optional<CertificateTable> LocateCertificateTable(Bytes file);

// The length of the package part of an installer file. Unsigned (or untrusted directory):
// the file size, the package read as it always was. Signed: the certificate table's offset,
// less the zero padding before it, so that the trailer locates a script block that begins
// with a zlib header and inflates; the table's offset when no such end exists.
std::uint64_t PackageEnd(Bytes file);

// The package part of an installer file: its first PackageEnd(file) bytes.
Bytes PackageOf(Bytes file);

}  // namespace vorlatch
