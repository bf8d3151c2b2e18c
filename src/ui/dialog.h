#pragma once
// A small dialog layer of our own: a Dialog runs a resource template modally or modeless and
// hands its messages to a few virtual handlers; a Control is a child window bound to an
// object, which sees its own window's messages (subclassing) and the notifications that the
// child sends to the dialog (reflection).

#include <string>
#include <vector>

#include <windows.h>

namespace vorlatch {

class Dialog;

// The text of a window; empty for no window or no text.
std::string WindowText(HWND window);

// A length given in pixels of a 96-DPI display, in pixels of the display that shows the
// window (the program is DPI aware, so Windows no longer scales its pixels itself).
int ScaledForDpi(HWND window, int pixelsAt96);

// A dialog item owned by an object. Bind it with Dialog::AddControl before the window exists
// (it is attached when the dialog initialises, before OnInitDialog) or with Attach later.
class Control {
 public:
  Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  virtual ~Control();

  HWND hwnd() const { return hwnd_; }
  bool IsAttached() const { return hwnd_ != nullptr; }

  // Binds the object to an existing child window and subclasses it; false if the window does
  // not exist or is already bound to an object.
  bool Attach(HWND window);
  // Restores the window's own procedure and forgets the window (also done when it is destroyed).
  void Detach();

  // The dialog calls these for a WM_COMMAND that this control sent to it, and for a
  // WM_CTLCOLORSTATIC asking how to paint this control.
  // Returns true when the notification was handled; the dialog then does nothing more with it.
  virtual bool OnReflectedCommand(int notifyCode);
  // Returns the brush to paint with (having set up the display context), or null to leave the
  // colouring to the dialog.
  virtual HBRUSH OnReflectedCtlColor(HDC dc);

  // The object bound to a window, or null.
  static Control* FromWindow(HWND window);

 protected:
  // Called once the window is bound (the attach hook).
  virtual void OnAttach() {}
  // A message of the control's own window. Return true and set result to answer it; false
  // passes it to the window's own procedure.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  // The window's own procedure, for handlers that want the default first.
  LRESULT CallDefault(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  WNDPROC previous_ = nullptr;
};

// A dialog from a template in the program's own resources.
class Dialog {
 public:
  explicit Dialog(int templateId);
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  // Destroys a modeless window that is still open.
  virtual ~Dialog();

  // Runs the dialog modally and returns the value given to EndDialog, or -1 when the dialog
  // could not be created.
  INT_PTR RunModal(HWND parent = nullptr);
  // Creates the dialog modeless; its messages arrive through the thread's message loop. False
  // when the window could not be created (or one is already open).
  bool CreateModeless(HWND parent = nullptr);
  // Destroys the window if there is one (modal or modeless).
  void Destroy();
  // Modal: ends the modal loop with result. Modeless: destroys the window.
  void EndDialog(INT_PTR result);

  HWND hwnd() const { return hwnd_; }
  int templateId() const { return templateId_; }
  bool IsModal() const { return modal_; }

  // Binds control to the dialog item id when the dialog initialises (before OnInitDialog).
  // The control must outlive the dialog window.
  void AddControl(Control& control, int id);

  HWND Item(int id) const;
  void SetItemText(int id, const std::string& text) const;
  std::string ItemText(int id) const;
  void SetCaption(const std::string& text) const;
  std::string Caption() const;

 protected:
  // WM_INITDIALOG, after the controls are attached. Return true to let the dialog manager put
  // the focus on the first tab stop, false when the handler set the focus itself.
  virtual bool OnInitDialog();
  // WM_COMMAND (after reflection to the sending control). Return true when handled. The base
  // ends the dialog with IDOK or IDCANCEL for those two commands.
  virtual bool OnCommand(int id, int notifyCode, HWND control);
  // Any other message. Return true and set result to answer it; false leaves it to the dialog
  // manager.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void AttachControls();
  void DetachControls();

  struct Binding {
    Control* control;
    int id;
  };

  int templateId_;
  HWND hwnd_ = nullptr;
  bool modal_ = false;
  std::vector<Binding> controls_;
};

// The module whose resources hold the dialog templates and the icon (the program itself).
HINSTANCE ResourceModule();

}  // namespace vorlatch
