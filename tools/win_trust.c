/* win_trust: makes the Wine prefix (or Windows user) it runs in trust a
 * test CA, as a player's own root store would hold it. Only the tests run it,
 * and only in a test prefix: the machine's trust store is never touched.
 *   win_trust <ca.pem>
 * Exits 0 once the certificate is in the current user's Root store. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>
#include <wincrypt.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: win_trust <ca.pem>\n");
    return 2;
  }
  FILE* f = fopen(argv[1], "rb");
  if (f == NULL) return 1;
  static char pem[65536];
  const size_t n = fread(pem, 1, sizeof pem - 1, f);
  fclose(f);
  pem[n] = '\0';
  static BYTE der[65536];
  DWORD dwDer = sizeof der;
  if (!CryptStringToBinaryA(pem, (DWORD)n, CRYPT_STRING_BASE64HEADER, der, &dwDer, NULL, NULL)) {
    fprintf(stderr, "win_trust: %s holds no PEM certificate\n", argv[1]);
    return 1;
  }
  if (!CertAddEncodedCertificateToSystemStoreA("Root", der, dwDer)) {
    fprintf(stderr, "win_trust: the Root store refused it (%lu)\n", (unsigned long)GetLastError());
    return 1;
  }
  printf("trusted\n");
  return 0;
}
