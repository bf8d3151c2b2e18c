#include "support/screenshot.h"

#include <zlib.h>

#include <cstdint>
#include <vector>

#include "win/handles.h"

namespace vorlatch {
namespace {

void AppendBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

void AppendChunk(std::string& png, const char* type, const std::string& data) {
  AppendBigEndian(png, static_cast<std::uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  png += body;
  AppendBigEndian(png,
                  static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                   static_cast<uInt>(body.size()))));
}

// 8-bit RGB, filter 0 on every row, one IDAT chunk.
bool EncodePng(const std::uint8_t* bgra, int width, int height, std::string& png) {
  std::vector<std::uint8_t> raw;
  raw.reserve(static_cast<std::size_t>(height) * (static_cast<std::size_t>(width) * 3 + 1));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    const std::uint8_t* row = bgra + static_cast<std::size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x) {
      raw.push_back(row[x * 4 + 2]);
      raw.push_back(row[x * 4 + 1]);
      raw.push_back(row[x * 4]);
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packedSize, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, raw.data(),
                static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK) {
    return false;
  }
  packed.resize(packedSize);
  std::string header;
  AppendBigEndian(header, static_cast<std::uint32_t>(width));
  AppendBigEndian(header, static_cast<std::uint32_t>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);
  png.assign("\x89PNG\r\n\x1a\n", 8);
  AppendChunk(png, "IHDR", header);
  AppendChunk(png, "IDAT", packed);
  AppendChunk(png, "IEND", {});
  return true;
}

// Whether the window itself is what the screen shows at its centre and near its corners.
// Tests run side by side on one screen, and another program's window may lie over this one.
bool ShownOnTop(HWND window) {
  RECT rect{};
  if (!GetWindowRect(window, &rect)) {
    return false;
  }
  const LONG inset = 4;
  const POINT points[] = {{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2},
                          {rect.left + inset, rect.top + inset},
                          {rect.right - inset, rect.top + inset},
                          {rect.left + inset, rect.bottom - inset},
                          {rect.right - inset, rect.bottom - inset}};
  for (const POINT& point : points) {
    const HWND shown = WindowFromPoint(point);
    if (shown == nullptr || GetAncestor(shown, GA_ROOT) != window) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool SaveScreenPicture(HWND window, const std::string& path) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  // The window's own thread paints it and hands the paint to the display from its message
  // loop; when that thread is this one, look into the queue (without taking anything) so that
  // it does.
  const bool ownThread = GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
  // At least 8 rounds; up to 5 s more while another program's window covers this one (the
  // picture is taken anyway after that).
  for (int i = 0; i < 8 || (i < 108 && !ShownOnTop(window)); ++i) {
    if (ownThread) {
      MSG message;
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
    Sleep(50);
  }
  RECT rect{};
  if (!GetWindowRect(window, &rect)) {
    return false;
  }
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) {
    return false;
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  UniqueGdiObject bitmap(CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  bool captured = false;
  std::string png;
  if (memory != nullptr && bitmap && bits != nullptr) {
    const HGDIOBJ previous = SelectObject(memory, bitmap.get());
    captured = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != 0;
    GdiFlush();
    captured = captured && EncodePng(static_cast<const std::uint8_t*>(bits), width, height, png);
    SelectObject(memory, previous);
  }
  if (memory != nullptr) {
    DeleteDC(memory);
  }
  ReleaseDC(nullptr, screen);
  if (!captured) {
    return false;
  }
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file &&
         WriteFile(file.get(), png.data(), static_cast<DWORD>(png.size()), &written, nullptr) &&
         written == png.size();
}

}  // namespace vorlatch
