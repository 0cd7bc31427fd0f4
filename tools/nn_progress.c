/* nn_progress: downloads one file through libnndown.so and draws its progress
 * from a notification target, as a C program using the library would.
 *   nn_progress <folder> <url>...   the URLs are mirrors of one file
 * Draws a bar on standard error; on standard output it prints one line per
 * notification ("progress PERCENT DOWNLOADED TOTAL" or "final ACTIVE
 * DOWNLOADED TOTAL") and the call's result. Exits 0 when the file is
 * complete and the final notification came. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "engine/nn_down.h"

struct Seen {
  int nProgress;
  int nFinal;
};

static void OnNotify(void* pUser, uint32_t uMsg, uintptr_t wParam, intptr_t lParam) {
  struct Seen* pSeen = (struct Seen*)pUser;
  const DownProgress* p = (const DownProgress*)wParam;
  if (uMsg != WM_DOWN_NOTIFY || p == NULL) return;
  if (lParam == 999) {
    char bar[31];
    int nFilled = p->nPercent < 0 ? 0 : p->nPercent > 100 ? 30 : p->nPercent * 30 / 100;
    memset(bar, '#', (size_t)nFilled);
    memset(bar + nFilled, '-', (size_t)(30 - nFilled));
    bar[30] = '\0';
    fprintf(stderr, "\r[%s] %3d%% %.1f KiB/s", bar, p->nPercent, p->dSpeed * 1000.0 / 1024.0);
    printf("progress %d %lld %lld\n", p->nPercent, (long long)p->llDownloaded,
           (long long)p->llTotal);
    ++pSeen->nProgress;
  } else {
    fprintf(stderr, "\n");
    printf("final %d %lld %lld\n", p->bActive, (long long)p->llDownloaded, (long long)p->llTotal);
    ++pSeen->nFinal;
  }
}

int main(int argc, char** argv) {
  struct Seen seen = {0, 0};
  size_t nLength = 1;
  char* szUrls;
  int i;
  uintptr_t hTarget;
  int32_t nResult;
  if (argc < 3) {
    fprintf(stderr, "usage: nn_progress <folder> <url>...\n");
    return 2;
  }
  for (i = 2; i < argc; ++i) nLength += strlen(argv[i]) + 2;
  szUrls = (char*)malloc(nLength);
  if (szUrls == NULL) return 1;
  szUrls[0] = '\0';
  for (i = 2; i < argc; ++i) {
    strcat(szUrls, argv[i]);
    strcat(szUrls, "\r\n");
  }
  hTarget = NN_CreateNotifyTarget(OnNotify, &seen);
  nResult = NN_Down_n1(szUrls, argv[1], hTarget, 7, 100);
  NN_DestroyNotifyTarget(hTarget);
  free(szUrls);
  printf("result %d progress %d final %d\n", (int)nResult, seen.nProgress, seen.nFinal);
  return nResult == 1 && seen.nFinal == 1 ? 0 : 1;
}
