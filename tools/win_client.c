/* A stand-in for the game's Windows client, built with mingw-w64 for the
 * tests: it writes its arguments and working folder to "started.txt" beside
 * itself, and with the argument "wait" stays running until it is ended.
 * As "send TITLE MESSAGE WPARAM" it is another program that talks to the
 * updater's window: it sends the message to the top-level window of the
 * title and prints the result. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int Send(const char* szTitle, const char* szMessage, const char* szWParam) {
  HWND hWnd = FindWindowA(NULL, szTitle);
  if (hWnd == NULL) {
    printf("no window\n");
    return 1;
  }
  LRESULT result = SendMessageA(hWnd, (UINT)atoi(szMessage), (WPARAM)atoi(szWParam), 0);
  printf("%ld\n", (long)result);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 5 && strcmp(argv[1], "send") == 0) return Send(argv[2], argv[3], argv[4]);
  char szExe[MAX_PATH], szCwd[MAX_PATH], szOut[MAX_PATH + 16];
  GetModuleFileNameA(NULL, szExe, MAX_PATH);
  GetCurrentDirectoryA(MAX_PATH, szCwd);
  char* cut = strrchr(szExe, '\\');
  if (cut != NULL) *cut = '\0';
  snprintf(szOut, sizeof szOut, "%s\\started.txt", szExe);
  FILE* f = fopen(szOut, "wb");
  if (f != NULL) {
    for (int i = 1; i < argc; ++i) fprintf(f, "%s ", argv[i]);
    fprintf(f, "%s\n", szCwd);
    fclose(f);
  }
  if (argc > 1 && strcmp(argv[1], "wait") == 0) Sleep(INFINITE);
  return 0;
}
