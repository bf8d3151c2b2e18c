// Prints the stub's extraction throughput on a real installer: every installed file of the
// package extracted the way the stub does it (item bytes from the mapped package into the item
// file, inflated into the target, attributes and times applied), next to plain zlib
// uncompress of the same streams in memory, which is the limit extraction can reach. Also the
// peak working set of the extraction, the package mapping included.
// Usage: extract_bench INSTALLER   (the native package_bench makes one with --keep)

#include <windows.h>

#include <psapi.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "package/format.h"
#include "package/item_extraction.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "packer/ini_text.h"

namespace {

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  LARGE_INTEGER frequency{};
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  return now;
}

double PeakWorkingSetMegabytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) {
    return 0.0;
  }
  return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

struct Item {
  std::uint32_t position = 0;
  std::uint32_t length = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: extract_bench INSTALLER\n");
    return 2;
  }
  const double startPeak = PeakWorkingSetMegabytes();
  if (!vorlatch::OpenPackageFile(argv[1])) {
    std::fprintf(stderr, "extract_bench: %s: cannot open the package\n", argv[1]);
    return 1;
  }
  const vorlatch::Bytes package(vorlatch::g_state.packageView,
                                static_cast<std::size_t>(vorlatch::g_state.packageSize));
  const auto block = vorlatch::LocateScriptBlock(package);
  const auto scriptBytes = block ? vorlatch::InflateItem(*block) : std::nullopt;
  if (!scriptBytes) {
    std::fprintf(stderr, "extract_bench: %s: no script\n", argv[1]);
    return 1;
  }
  const auto script = vorlatch::packer::IniText::Parse(
      std::string_view(reinterpret_cast<const char*>(scriptBytes->data()), scriptBytes->size()));
  std::vector<Item> items;
  for (long long n = 1; n <= script.GetInt("File", "File"); ++n) {
    const std::string number = std::to_string(n);
    items.push_back({static_cast<std::uint32_t>(script.GetInt("File", "Pos" + number)),
                     static_cast<std::uint32_t>(script.GetInt("File", "Zip" + number))});
  }

  char temp[MAX_PATH] = {};
  if (::GetTempPathA(MAX_PATH, temp) == 0) {
    std::fprintf(stderr, "extract_bench: no temporary folder\n");
    return 1;
  }
  const std::string folder = std::string(temp) + "vorlatch-extract-bench\\";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  ::SetEnvironmentVariableA("Tmp", folder.c_str());

  // The stub's way, several rounds; the best round counts.
  double ours = 1e9;
  double produced = 0.0;
  for (int round = 0; round < 5; ++round) {
    produced = 0.0;
    const LARGE_INTEGER start = Now();
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::string target = folder + "file" + std::to_string(i + 1) + ".bin";
      const std::uint32_t written =
          vorlatch::ExtractPackedItem(items[i].position, items[i].length, target, false);
      if (written == 0) {
        std::fprintf(stderr, "extract_bench: item %zu did not extract\n", i + 1);
        return 1;
      }
      produced += written;
    }
    ours = std::min(ours, Seconds(start, Now()));
  }
  const double extractionPeak = PeakWorkingSetMegabytes();

  // The limit: zlib alone, on the same streams, from memory into memory.
  double plain = 1e9;
  for (int round = 0; round < 5; ++round) {
    const LARGE_INTEGER start = Now();
    for (const Item& item : items) {
      const auto bytes = vorlatch::SliceOf(package, item.position, item.length);
      const auto tail = bytes ? vorlatch::ReadItemTailOf(*bytes) : std::nullopt;
      if (!tail) {
        return 1;
      }
      std::vector<std::uint8_t> out(tail->size);
      uLongf length = tail->size;
      if (uncompress(out.data(), &length, bytes->data(),
                     static_cast<uLong>(bytes->size() - vorlatch::kItemTailSize)) != Z_OK) {
        return 1;
      }
    }
    plain = std::min(plain, Seconds(start, Now()));
  }

  for (std::size_t i = 0; i < items.size(); ++i) {
    ::DeleteFileA((folder + "file" + std::to_string(i + 1) + ".bin").c_str());
  }
  ::RemoveDirectoryA(folder.c_str());
  vorlatch::ClosePackage();

  const double mb = produced / (1024.0 * 1024.0);
  std::printf(
      "stub extraction: %.1f MB in %zu files: %.1f MB/s to files; plain zlib uncompress in "
      "memory %.1f MB/s (extraction takes %.2fx its time)\n",
      mb, items.size(), mb / ours, mb / plain, ours / plain);
  std::printf("stub extraction: peak working set %.1f MB (%.1f MB before the package was opened)\n",
              extractionPeak, startPeak);
  return 0;
}
