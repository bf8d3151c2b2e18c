// The program that the hello example installs: it greets the user and names the folder it
// runs from, so that the demo shows where the installation put it.

#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = "Hello from Vorlatch!";
  if (length > 0 && length < MAX_PATH) {
    text += "\n\nThis program runs from\n";
    text += path;
  }
  ::MessageBoxA(nullptr, text.c_str(), "Hello", MB_OK | MB_ICONINFORMATION);
  return 0;
}
