#pragma once
// A static text that behaves like a web link: coloured text, the help viewer's hand cursor,
// a tooltip with the address, and a click that opens the address in the web browser.

#include <string>

#include <windows.h>

#include "ui/dialog.h"
#include "win/handles.h"

namespace vorlatch {

// The tool id of the link's one tooltip tool.
inline constexpr UINT kLinkToolId = 1;
// The help viewer's hand cursor.
inline constexpr int kHelpViewerHandCursor = 106;

class HyperlinkLabel : public Control {
 public:
  HyperlinkLabel();
  ~HyperlinkLabel() override;

  // Stores the address; when attached, resizes the control to its text and shows the address
  // in the tooltip.
  void SetURL(const std::string& address);
  // Applied when the control is attached (the link font is built then).
  void SetUnderline(bool underline);
  // Repaints the control when attached.
  void SetVisited(bool visited);

  const std::string& url() const { return address_; }
  bool IsVisited() const { return visited_; }
  bool IsOver() const { return over_; }
  bool IsUnderlined() const { return underline_; }
  HFONT linkFont() const { return static_cast<HFONT>(linkFont_.get()); }
  HCURSOR linkCursor() const { return linkCursor_.get(); }
  HWND tooltip() const { return tooltip_; }
  COLORREF linkColour() const { return linkColour_; }
  COLORREF visitedColour() const { return visitedColour_; }
  COLORREF hoverColour() const { return hoverColour_; }

  // The click notification and the colour request, reflected by the dialog.
  bool OnReflectedCommand(int notifyCode) override;
  HBRUSH OnReflectedCtlColor(HDC dc) override;

 protected:
  void OnAttach() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  struct CursorTraits {
    static HCURSOR Invalid() { return nullptr; }
    static bool IsValid(HCURSOR h) { return h != nullptr; }
    static void Close(HCURSOR h) { ::DestroyCursor(h); }
  };

  void ResizeToText();
  void LoadLinkCursor();
  void CreateTooltip();
  void DestroyTooltip();
  void Redraw();
  void OnMouseMove(LPARAM lParam);
  void OnClick();

  COLORREF linkColour_;
  COLORREF visitedColour_;
  COLORREF hoverColour_;
  bool over_ = false;
  bool visited_ = false;
  bool underline_ = true;
  bool autoSize_ = true;
  std::string address_;
  UniqueGdiObject linkFont_;
  UniqueResource<HCURSOR, CursorTraits> linkCursor_;
  HWND tooltip_ = nullptr;
};

// Opens address in the user's web browser: through the shell, else with the program
// registered for ".htm" pages. Returns the shell's or WinExec's result; above 32 is success.
INT_PTR OpenLinkAddress(const std::string& address, int showMode);

}  // namespace vorlatch
