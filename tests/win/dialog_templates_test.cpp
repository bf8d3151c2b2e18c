// The dialog templates as the resource compiler put them into the stub: every control's id,
// class, text, place, size and the styles that its dialog relies on, read from the built
// program's own resources.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "resources/resource.h"
#include "support/test_files.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;

// A name or ordinal of a template: a class, a text or an icon resource.
struct NameOrOrdinal {
  std::string name;
  WORD ordinal = 0;  // nonzero: an ordinal
};

struct TemplateItem {
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  NameOrOrdinal windowClass;
  NameOrOrdinal text;
};

struct Template {
  bool extended = false;
  DWORD style = 0;
  DWORD exStyle = 0;
  int cx = 0, cy = 0;
  std::string title;
  int pointSize = 0;
  std::string font;
  std::vector<TemplateItem> items;
};

// Reads a template word by word; any read past its end makes the whole template invalid.
class TemplateReader {
 public:
  TemplateReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  WORD Word() { return static_cast<WORD>(Read(2)); }
  DWORD Dword() { return static_cast<DWORD>(Read(4)); }
  short Short() { return static_cast<short>(Word()); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Read(1)); }
  void AlignToDword() { position_ = (position_ + 3) & ~static_cast<std::size_t>(3); }
  void Skip(std::size_t bytes) {
    if (bytes > size_ - position_) {
      ok_ = false;
      position_ = size_;
    } else {
      position_ += bytes;
    }
  }
  // A null-terminated UTF-16 string of ASCII text, as our templates hold.
  std::string String() {
    std::string text;
    for (WORD c = Word(); ok_ && c != 0; c = Word()) {
      text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return text;
  }
  NameOrOrdinal NameOrOrdinalField() {
    NameOrOrdinal result;
    const WORD first = Word();
    if (first == 0xFFFF) {
      result.ordinal = Word();
    } else if (first != 0) {
      position_ -= 2;
      result.name = String();
    }
    return result;
  }

 private:
  std::uint32_t Read(std::size_t bytes) {
    if (!ok_ || bytes > size_ - position_) {
      ok_ = false;
      return 0;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
      value |= static_cast<std::uint32_t>(data_[position_ + i]) << (8 * i);
    }
    position_ += bytes;
    return value;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  bool ok_ = true;
};

std::optional<Template> ParseTemplate(const std::uint8_t* data, std::size_t size) {
  TemplateReader reader(data, size);
  Template result;
  const WORD version = reader.Word();
  const WORD signature = reader.Word();
  result.extended = version == 1 && signature == 0xFFFF;
  int count = 0;
  if (result.extended) {
    reader.Dword();  // help id
    result.exStyle = reader.Dword();
    result.style = reader.Dword();
  } else {
    result.style = static_cast<DWORD>(version) | (static_cast<DWORD>(signature) << 16);
    result.exStyle = reader.Dword();
  }
  count = reader.Word();
  reader.Short();
  reader.Short();
  result.cx = reader.Short();
  result.cy = reader.Short();
  reader.NameOrOrdinalField();  // menu
  reader.NameOrOrdinalField();  // class
  result.title = reader.String();
  if ((result.style & DS_SETFONT) != 0) {
    result.pointSize = reader.Word();
    if (result.extended) {
      reader.Word();  // weight
      reader.Byte();  // italic
      reader.Byte();  // character set
    }
    result.font = reader.String();
  }
  for (int n = 0; n < count && reader.ok(); ++n) {
    reader.AlignToDword();
    TemplateItem item;
    if (result.extended) {
      reader.Dword();  // help id
      item.exStyle = reader.Dword();
      item.style = reader.Dword();
    } else {
      item.style = reader.Dword();
      item.exStyle = reader.Dword();
    }
    item.x = reader.Short();
    item.y = reader.Short();
    item.cx = reader.Short();
    item.cy = reader.Short();
    item.id = result.extended ? static_cast<int>(static_cast<LONG>(reader.Dword()))
                              : static_cast<short>(reader.Word());
    item.windowClass = reader.NameOrOrdinalField();
    item.text = reader.NameOrOrdinalField();
    reader.Skip(reader.Word());  // creation data
    result.items.push_back(item);
  }
  if (!reader.ok()) {
    return std::nullopt;
  }
  return result;
}

// The stub's template with this id.
class DialogTemplates : public ::testing::Test {
 protected:
  void SetUp() override {
    stub_.reset(LoadLibraryExA(test::BesideTests("vorlatch-stub.exe").c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(stub_) << "the stub cannot be loaded";
  }

  std::optional<Template> Load(int id) {
    const HRSRC found = FindResourceA(stub_.get(), MAKEINTRESOURCEA(id), RT_DIALOG);
    if (found == nullptr) {
      return std::nullopt;
    }
    const HGLOBAL loaded = LoadResource(stub_.get(), found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
      return std::nullopt;
    }
    return ParseTemplate(static_cast<const std::uint8_t*>(bytes),
                         SizeofResource(stub_.get(), found));
  }

  UniqueModule stub_;
};

// What a control must be: the styles listed must all be set (others may be too), and the
// type bits (the low four of a button, the low five of a static) must be exactly `type`.
struct Expected {
  int id;
  WORD windowClass;
  std::string text;  // for an icon: empty, with `icon` set
  int x, y, cx, cy;
  DWORD type;
  DWORD styles;
  DWORD exStyles = 0;
  WORD icon = 0;
};

// A predefined class given by its ordinal or, as a CONTROL statement writes it, by its name.
bool IsClass(const NameOrOrdinal& windowClass, WORD ordinal) {
  if (windowClass.ordinal != 0) {
    return windowClass.ordinal == ordinal;
  }
  const char* name = ordinal == kButtonClass   ? "button"
                     : ordinal == kEditClass   ? "edit"
                     : ordinal == kStaticClass ? "static"
                                               : "msctls_progress32";
  return lstrcmpiA(windowClass.name.c_str(), name) == 0;
}

void ExpectControls(const Template& dialog, const std::vector<Expected>& expected) {
  ASSERT_EQ(dialog.items.size(), expected.size());
  for (std::size_t n = 0; n < expected.size(); ++n) {
    const TemplateItem& item = dialog.items[n];
    const Expected& want = expected[n];
    SCOPED_TRACE("control " + std::to_string(n) + " (id " + std::to_string(want.id) + ")");
    EXPECT_EQ(item.id, want.id);
    EXPECT_TRUE(IsClass(item.windowClass, want.windowClass))
        << item.windowClass.ordinal << " " << item.windowClass.name;
    if (want.icon != 0) {
      EXPECT_EQ(item.text.ordinal, want.icon);
    } else {
      EXPECT_EQ(item.text.ordinal, 0);
      EXPECT_EQ(item.text.name, want.text);
    }
    EXPECT_EQ(item.x, want.x);
    EXPECT_EQ(item.y, want.y);
    EXPECT_EQ(item.cx, want.cx);
    EXPECT_EQ(item.cy, want.cy);
    if (want.windowClass == kButtonClass) {
      EXPECT_EQ(item.style & BS_TYPEMASK, want.type);
    } else if (want.windowClass == kStaticClass) {
      EXPECT_EQ(item.style & SS_TYPEMASK, want.type);
    }
    EXPECT_EQ(item.style & want.styles, want.styles);
    EXPECT_EQ(item.style & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
    EXPECT_EQ(item.exStyle & want.exStyles, want.exStyles);
  }
}

void ExpectFrame(const Template& dialog, int cx, int cy, const std::string& title, DWORD styles,
                 DWORD absentStyles) {
  EXPECT_EQ(dialog.cx, cx);
  EXPECT_EQ(dialog.cy, cy);
  EXPECT_EQ(dialog.title, title);
  EXPECT_EQ(dialog.font, "MS Sans Serif");
  EXPECT_EQ(dialog.pointSize, 8);
  EXPECT_EQ(dialog.style & styles, styles);
  EXPECT_EQ(dialog.style & absentStyles, 0u);
}

constexpr DWORD kPush = BS_PUSHBUTTON;
constexpr DWORD kDefault = BS_DEFPUSHBUTTON;

TEST_F(DialogTemplates, DestinationDialog) {
  const auto dialog = Load(IDD_DESTINATION);
  ASSERT_TRUE(dialog.has_value());
  EXPECT_TRUE(dialog->extended);
  ExpectFrame(*dialog, 260, 68, "Dialog", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0);
  ExpectControls(
      *dialog,
      {
          {-1, kStaticClass, "Please select destination directory:", 54, 10, 110, 8, SS_LEFT, 0},
          {1007, kEditClass, "", 9, 29, 200, 14, 0, WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP},
          {1008, kButtonClass, "B&rowse", 214, 29, 42, 14, kPush, WS_TABSTOP},
          {1017, kButtonClass, "&About", 10, 49, 29, 14, kPush, WS_TABSTOP},
          {1010, kButtonClass, "&Next", 174, 49, 35, 14, kDefault, WS_TABSTOP},
          {IDCANCEL, kButtonClass, "&Cancel", 214, 49, 41, 14, kPush, WS_TABSTOP},
          {1031, kStaticClass, "", 10, 4, 21, 20, SS_ICON, 0, WS_EX_DLGMODALFRAME, 128},
          {1029, kStaticClass, "", 41, 47, 128, 18, SS_CENTER, 0},
      });
}

TEST_F(DialogTemplates, ConfirmationDialogInTabOrder) {
  const auto dialog = Load(IDD_CONFIRM);
  ASSERT_TRUE(dialog.has_value());
  // No system menu (no close box); not visible until shown.
  ExpectFrame(*dialog, 230, 79, "Confirm", WS_POPUP | WS_CAPTION | DS_MODALFRAME,
              WS_SYSMENU | WS_VISIBLE);
  ExpectControls(*dialog,
                 {
                     {IDYES, kButtonClass, "&Yes", 7, 58, 50, 14, kDefault, WS_TABSTOP},
                     {1014, kButtonClass, "No to A&ll", 174, 58, 50, 14, kPush, WS_TABSTOP},
                     {IDNO, kButtonClass, "&No", 63, 58, 50, 14, kPush, WS_TABSTOP},
                     {1013, kButtonClass, "Yes to &All", 118, 58, 50, 14, kPush, WS_TABSTOP},
                     {1015, kStaticClass, "", 35, 11, 134, 42, SS_LEFT, WS_GROUP},
                     {-1, kStaticClass, "", 7, 8, 21, 20, SS_ICON, 0, 0, 128},
                     {IDCANCEL, kButtonClass, "&Cancel", 174, 9, 50, 14, kPush, WS_TABSTOP},
                 });
}

TEST_F(DialogTemplates, ProgressWindow) {
  const auto dialog = Load(IDD_PROGRESS);
  ASSERT_TRUE(dialog.has_value());
  ExpectFrame(*dialog, 131, 25, "", WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER,
              WS_SYSMENU | WS_VISIBLE);
  ExpectControls(*dialog, {{1018, kStaticClass, "", 6, 0, 120, 8, SS_CENTER, WS_GROUP},
                           {IDC_PROGRESS_BAR, kStaticClass, "", 6, 11, 120, 9, SS_OWNERDRAW, 0}});
}

TEST_F(DialogTemplates, LicenceDialog) {
  const auto dialog = Load(IDD_LICENCE);
  ASSERT_TRUE(dialog.has_value());
  ExpectFrame(*dialog, dialog->cx, dialog->cy, "EULA",
              WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX |
                  DS_SYSMODAL,
              0);
  ExpectControls(*dialog, {
                              {1032, kEditClass, "", 7, 8, 397, 121, 0,
                               ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER | WS_TABSTOP,
                               WS_EX_DLGMODALFRAME},
                              {1033, kStaticClass, "", 7, 131, 21, 20, SS_ICON, 0},
                              {1034, kButtonClass, "1", 354, 136, 50, 14, kDefault, WS_TABSTOP},
                              {1035, kButtonClass, "2", 295, 136, 50, 14, kPush, WS_TABSTOP},
                              {1036, kStaticClass, "Static", 35, 139, 254, 8, SS_CENTER, 0},
                          });
}

TEST_F(DialogTemplates, AboutBox) {
  const auto dialog = Load(IDD_ABOUT);
  ASSERT_TRUE(dialog.has_value());
  ExpectFrame(*dialog, dialog->cx, dialog->cy, "About this installation",
              WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0);
  ExpectControls(*dialog, {
                              {-1, kStaticClass, "", 6, 5, 21, 20, SS_ICON, 0, 0, 128},
                              {1030, kStaticClass, "Created by", 33, 5, 37, 8, SS_CENTER, 0},
                              {1031, kStaticClass, "Vorlatch", 71, 5, 38, 8, SS_CENTER, 0},
                              {-1, kStaticClass, "Compression algorithm adapted from ", 34, 17, 116,
                               8, SS_LEFT, 0},
                              {1021, kStaticClass, "zLib", 154, 17, 14, 8, SS_LEFT, 0},
                          });
  // No buttons: Escape or the close box ends it.
  for (const TemplateItem& item : dialog->items) {
    EXPECT_NE(item.windowClass.ordinal, kButtonClass);
  }
}

}  // namespace
}  // namespace vorlatch
