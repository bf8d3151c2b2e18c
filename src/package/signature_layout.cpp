#include "package/signature_layout.h"

#include "package/pe_image.h"

namespace vorlatch {

namespace {

// Signing tools pad to a multiple of 8.
constexpr std::uint64_t kMostPadding = 7;
// WIN_CERTIFICATE: u32 length, u16 revision, u16 type, then the certificate.
constexpr std::uint64_t kCertificateHeaderSize = 8;

bool HasZlibHeader(Bytes stream) {
  if (stream.size() < 2) {
    return false;
  }
  const unsigned method = stream[0] & 0x0F;
  const unsigned window = stream[0] >> 4;
  return method == 8 && window <= 7 && ((stream[0] << 8) | stream[1]) % 31 == 0;
}

// Whether the trailer at the end of `package` locates a script block that is really one.
// The header alone would let a shifted trailer pass now and then; inflating settles it.
bool LocatesSoundScript(Bytes package) {
  const auto block = LocateScriptBlock(package);
  return block && HasZlibHeader(block->first(block->size() - kItemTailSize)) &&
         InflateItem(*block).has_value();
}

}  // namespace

std::optional<CertificateTable> LocateCertificateTable(Bytes file) {
  const auto image = ReadPeImage(file);
  if (!image || image->directories.size() <= kSecurityDirectory) {
    return std::nullopt;
  }
  const DataDirectory security = image->directories[kSecurityDirectory];
  if (security.address == 0 || security.size < kCertificateHeaderSize) {
    return std::nullopt;
  }
  const CertificateTable table{security.address, security.size};
  // Both are 32-bit fields: the sum cannot wrap in 64 bits, but a table past 4 GiB is bogus.
  if (table.offset + table.size > UINT32_MAX || table.offset + table.size != file.size() ||
      table.offset < image->headersEnd || table.offset < image->rawDataEnd) {
    return std::nullopt;
  }
  const std::uint64_t firstLength = ReadU32(file.data() + table.offset);
  if (firstLength < kCertificateHeaderSize || firstLength > table.size) {
    return std::nullopt;
  }
  return table;
}

std::uint64_t PackageEnd(Bytes file) {
  const auto table = LocateCertificateTable(file);
  if (!table) {
    return file.size();
  }
  for (std::uint64_t skipped = 0; skipped <= kMostPadding && skipped <= table->offset; ++skipped) {
    const std::uint64_t end = table->offset - skipped;
    // Only padding may lie between the package and the table.
    if (skipped != 0 && file[static_cast<std::size_t>(end)] != 0) {
      break;
    }
    if (LocatesSoundScript(file.first(static_cast<std::size_t>(end)))) {
      return end;
    }
  }
  return table->offset;
}

Bytes PackageOf(Bytes file) {
  return file.first(static_cast<std::size_t>(PackageEnd(file)));
}

}  // namespace vorlatch
