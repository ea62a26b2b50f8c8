/* Starts the tests' Wine session and holds it open until tools/wine-stop
 * ends it: the Wine server, the services and the desktop process are started
 * by this program, with its standard streams, not by a test program, whose
 * output CTest reads until every process holding it has ended.
 * Usage: wine-session-anchor.exe READY-FILE: the file is created once the
 * desktop is up; the program then waits for ever. */
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (GetDesktopWindow() == NULL) return 1;
  HANDLE ready = CreateFileA(argv[1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (ready == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(ready);
  Sleep(INFINITE);
  return 0;
}
