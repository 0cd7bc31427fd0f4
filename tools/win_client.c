/* A stand-in for the game's Windows client, built with mingw-w64 for the
 * tests: it writes its arguments and working folder to "started.txt" beside
 * itself, and with the argument "wait" stays running until it is ended. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
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
