/* nndown_probe: uses nndown.dll as a Windows program of the game would.
 *   nndown_probe <folder> <url>
 * Loads the library from its own folder, finds the three entry points by
 * name and by ordinal (1, 2, 3) and checks they are the same, then downloads
 * the URL into the folder with NN_Down_n1 on a worker thread, its progress
 * going to a window of this program as message 1324 while the main thread
 * pumps messages. Prints "exports ok", one "progress PERCENT DOWNLOADED
 * TOTAL" line per notification, "final ACTIVE DOWNLOADED TOTAL" and
 * "result N"; exits 0 when the call returned 1 and the final notification
 * came. */
#include <stdint.h>
#include <stdio.h>
#include <windows.h>

#include "engine/nn_down.h"

typedef int32_t(__cdecl* DownFn)(const char*, const char*, uintptr_t, int32_t, uint32_t);
typedef int32_t(__cdecl* StopFn)(int32_t);

static int g_nProgress = 0;
static int g_nFinal = 0;

static LRESULT CALLBACK OnMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_DOWN_NOTIFY) {
    const DownProgress* p = (const DownProgress*)wParam;
    if (lParam == 999) {
      printf("progress %d %lld %lld\n", p->nPercent, (long long)p->llDownloaded,
             (long long)p->llTotal);
      ++g_nProgress;
    } else {
      printf("final %d %lld %lld\n", p->bActive, (long long)p->llDownloaded, (long long)p->llTotal);
      ++g_nFinal;
    }
    return 0;
  }
  return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

struct Call {
  DownFn pfnDown;
  const char* szUrls;
  const char* szFolder;
  HWND hWnd;
  int32_t nResult;
};

static DWORD WINAPI Download(void* pParam) {
  struct Call* pCall = (struct Call*)pParam;
  pCall->nResult = pCall->pfnDown(pCall->szUrls, pCall->szFolder, (uintptr_t)pCall->hWnd, 7, 100);
  return 0;
}

int main(int argc, char** argv) {
  char szLibrary[MAX_PATH];
  char* pSlash;
  HMODULE hLibrary;
  WNDCLASSW windowClass;
  struct Call call;
  HANDLE hThread;
  char szUrls[2048];
  if (argc != 3 || strlen(argv[2]) > 2000) {
    fprintf(stderr, "usage: nndown_probe <folder> <url>\n");
    return 2;
  }
  GetModuleFileNameA(NULL, szLibrary, MAX_PATH);
  pSlash = strrchr(szLibrary, '\\');
  if (pSlash == NULL) return 2;
  strcpy(pSlash + 1, "nndown.dll");
  hLibrary = LoadLibraryA(szLibrary);
  if (hLibrary == NULL) {
    fprintf(stderr, "nndown.dll not loaded (%lu)\n", GetLastError());
    return 1;
  }
  if (GetProcAddress(hLibrary, "NN_Down_n1") == NULL ||
      GetProcAddress(hLibrary, "NN_Down_n1") != GetProcAddress(hLibrary, MAKEINTRESOURCEA(1)) ||
      GetProcAddress(hLibrary, "NN_Down_nn") != GetProcAddress(hLibrary, MAKEINTRESOURCEA(2)) ||
      GetProcAddress(hLibrary, "NN_Stop") != GetProcAddress(hLibrary, MAKEINTRESOURCEA(3)) ||
      GetProcAddress(hLibrary, "NN_Stop") == NULL) {
    fprintf(stderr, "the entry points differ by name and ordinal\n");
    return 1;
  }
  printf("exports ok\n");

  memset(&windowClass, 0, sizeof windowClass);
  windowClass.lpfnWndProc = OnMessage;
  windowClass.hInstance = GetModuleHandleW(NULL);
  windowClass.lpszClassName = L"nndown_probe";
  RegisterClassW(&windowClass);
  call.hWnd = CreateWindowExW(0, L"nndown_probe", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                              windowClass.hInstance, NULL);
  snprintf(szUrls, sizeof szUrls, "%s\r\n", argv[2]);
  /* Through a plain function pointer: FARPROC takes no arguments. */
  call.pfnDown = (DownFn)(void (*)(void))GetProcAddress(hLibrary, MAKEINTRESOURCEA(1));
  call.szUrls = szUrls;
  call.szFolder = argv[1];
  call.nResult = -1000;
  hThread = CreateThread(NULL, 0, Download, &call, 0, NULL);
  /* The notifications are sent to this thread's window: pump until the
     worker ends. */
  for (;;) {
    MSG msg;
    const DWORD r = MsgWaitForMultipleObjects(1, &hThread, FALSE, INFINITE, QS_ALLINPUT);
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (r == WAIT_OBJECT_0) break;
  }
  CloseHandle(hThread);
  printf("result %d\n", call.nResult);
  fflush(stdout);
  return call.nResult == 1 && g_nFinal == 1 ? 0 : 1;
}
