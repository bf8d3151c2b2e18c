// Prints the package builder's throughput with one job and with every core next to `gzip -6`
// of the same bytes on one core, the extraction throughput of InflateItem next to plain zlib
// uncompress on the same streams (the limit it can reach), and the peak memory.
// Usage: package_bench [--keep INSTALLER] [megabytes [program...]]   (default 6 MB of mixed
// data in 16 files); the size of each program given (stubs, uninstallers) is printed too, and
// --keep leaves a copy of the built installer for the stub's own extraction benchmark;
// --sources DIR makes the files (f1.bin ... f16.bin) there and keeps them for the peer's figure.

#include <sys/resource.h>
#include <unistd.h>

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/format.h"
#include "package/signature_layout.h"
#include "packer/ini_text.h"
#include "packer/ordered_work.h"
#include "packer/packer.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Mixed content: text-like, structured binary and random bytes, in equal parts.
std::vector<std::uint8_t> MixedData(std::size_t size, unsigned kind) {
  std::vector<std::uint8_t> data(size);
  std::uint32_t state = 2463534242u + kind;
  static const char* const kWords[] = {"install ", "package ", "vorlatch ", "script ",
                                       "file ",    "target ",  "registry ", "\r\n"};
  std::size_t i = 0;
  while (i < size) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    if (kind % 3 == 0) {
      for (const char* w = kWords[state % 8]; *w != '\0' && i < size; ++w) {
        data[i++] = static_cast<std::uint8_t>(*w);
      }
    } else if (kind % 3 == 1) {
      data[i] = static_cast<std::uint8_t>((i % 16 < 4) ? (state & 0x0F) : (i / 64) & 0xFF);
      ++i;
    } else {
      data[i++] = static_cast<std::uint8_t>(state >> 24);
    }
  }
  return data;
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  std::string keep, sources;
  while (argc > 2 && (std::string(argv[1]) == "--keep" || std::string(argv[1]) == "--sources")) {
    (std::string(argv[1]) == "--keep" ? keep : sources) = argv[2];
    argv += 2;
    argc -= 2;
  }
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 6.0;
  const std::size_t total = static_cast<std::size_t>(megabytes * 1024 * 1024);
  const unsigned fileCount = 16;
  const auto folder = !sources.empty() ? std::filesystem::path(sources)
                                       : std::filesystem::temp_directory_path() /
                                             ("vorlatch-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);

  std::string project =
      "[General]\nProduct=Bench\n[File]\nFile=" + std::to_string(fileCount) + "\n";
  std::size_t sourceBytes = 0;
  for (unsigned n = 1; n <= fileCount; ++n) {
    const auto data = MixedData(total / fileCount, n);
    sourceBytes += data.size();
    const std::string number = std::to_string(n);
    const std::string name = "f" + number + ".bin";
    WriteFile(folder / name, data);
    project += "File" + number + "=" + name + "\n";
  }
  WriteFile(folder / "stub.exe", MixedData(64 * 1024, 1));
  std::ofstream(folder / "bench.vlp") << project;

  vorlatch::packer::BuildOptions options;
  options.project = (folder / "bench.vlp").string();
  options.stub = (folder / "stub.exe").string();
  options.output = (folder / "bench.exe").string();
  // Beside gzip -6: the zlib build (the LZMA ways are measured in the lzma part of scripts/bench).
  options.compression = "zlib";
  std::string error;
  const double mb = static_cast<double>(sourceBytes) / (1024.0 * 1024.0);
  double single = 0;
  for (unsigned jobs : {1u, 0u}) {
    options.jobs = jobs;
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
      const auto start = Clock::now();
      if (!vorlatch::packer::BuildInstaller(options, error)) {
        std::fprintf(stderr, "package_bench: %s\n", error.c_str());
        return 1;
      }
      best = std::min(best, SecondsSince(start));
    }
    const auto installerSize = std::filesystem::file_size(options.output);
    if (jobs == 1) {
      single = best;
      std::printf(
          "build:   --jobs 1: %.1f MB of sources in %.3f s: %.1f MB/s (installer %.1f MB)\n", mb,
          best, mb / best, static_cast<double>(installerSize) / (1024.0 * 1024.0));
    } else {
      std::printf("build:   --jobs %u (every core): %.3f s: %.1f MB/s, %.2fx faster than one job\n",
                  vorlatch::packer::DefaultJobs(), best, mb / best, single / best);
    }
  }
  // The same bytes through gzip at the same level on one core, as a yardstick.
  double gzipBest = 1e9;
  const std::string gzip = "cd '" + folder.string() + "' && gzip -6 -c f*.bin > /dev/null";
  for (int round = 0; round < 3; ++round) {
    const auto start = Clock::now();
    if (std::system(gzip.c_str()) != 0) {
      gzipBest = 0;
      break;
    }
    gzipBest = std::min(gzipBest, SecondsSince(start));
  }
  if (gzipBest > 0) {
    std::printf("build:   gzip -6 of the same files: %.3f s: %.1f MB/s\n", gzipBest, mb / gzipBest);
  } else {
    std::printf("build:   gzip -6 of the same files: gzip cannot be run here\n");
  }

  // Extraction: every item of the installer, as the stub inflates it, and with plain zlib.
  std::ifstream in(options.output, std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  // A signed installer's package ends before its certificate table.
  const vorlatch::Bytes package = vorlatch::PackageOf(bytes);
  const auto block = vorlatch::LocateScriptBlock(package);
  const auto scriptBytes = block ? vorlatch::InflateItem(*block) : std::nullopt;
  if (!scriptBytes) {
    std::fprintf(stderr, "package_bench: the built installer has no script\n");
    return 1;
  }
  const auto script = vorlatch::packer::IniText::Parse(
      std::string_view(reinterpret_cast<const char*>(scriptBytes->data()), scriptBytes->size()));
  std::vector<vorlatch::Bytes> items;
  for (unsigned n = 1; n <= fileCount; ++n) {
    const auto item = vorlatch::SliceOf(package, script.GetInt("File", "Pos" + std::to_string(n)),
                                        script.GetInt("File", "Zip" + std::to_string(n)));
    if (!item) {
      std::fprintf(stderr, "package_bench: item %u is missing\n", n);
      return 1;
    }
    items.push_back(*item);
  }
  double ours = 1e9, plain = 1e9;
  for (int round = 0; round < 9; ++round) {
    auto start = Clock::now();
    for (const auto& item : items) {
      const auto tail = vorlatch::ReadItemTailOf(item);
      std::vector<std::uint8_t> out(tail->size);
      uLongf length = tail->size;
      uncompress(out.data(), &length, item.data(), static_cast<uLong>(item.size() - 32));
    }
    plain = std::min(plain, SecondsSince(start));
    start = Clock::now();
    std::size_t produced = 0;
    for (const auto& item : items) {
      produced += vorlatch::InflateItem(item)->size();
    }
    ours = std::min(ours, SecondsSince(start));
    if (produced != sourceBytes) {
      std::fprintf(stderr, "package_bench: inflated %zu of %zu bytes\n", produced, sourceBytes);
      return 1;
    }
  }
  std::printf("extract: InflateItem %.1f MB/s, plain zlib uncompress %.1f MB/s (%.2fx its time)\n",
              mb / ours, mb / plain, ours / plain);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("memory:  peak resident %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  for (int i = 2; i < argc; ++i) {
    std::error_code failed;
    const auto size = std::filesystem::file_size(argv[i], failed);
    if (failed) {
      std::printf("size:    %s: cannot be read\n", argv[i]);
    } else {
      std::printf("size:    %s: %.1f KB (the smallest known stub of another system: 91 KB)\n",
                  argv[i], static_cast<double>(size) / 1024.0);
    }
  }
  std::error_code ignored;
  if (!keep.empty()) {
    std::filesystem::copy_file(options.output, keep,
                               std::filesystem::copy_options::overwrite_existing, ignored);
    if (ignored) {
      std::fprintf(stderr, "package_bench: %s: cannot be written\n", keep.c_str());
    }
  }
  if (sources.empty()) {
    std::filesystem::remove_all(folder, ignored);
  } else {
    std::filesystem::remove(options.output, ignored);
  }
  return 0;
}
