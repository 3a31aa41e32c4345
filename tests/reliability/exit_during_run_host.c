/* exit_during_run_host <n> <file>...: a C host that loads the files, starts a
 * fingerprint run and leaves while it goes: after n progress events (n > 0, returning
 * from main), at once (n = 0), or by exit inside progress event -n (n < 0). The
 * library stops its threads before the statics they use are destroyed: status 0. */
#include <pthread.h>
#include <stdlib.h>

#include "twintone.h"

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_changed = PTHREAD_COND_INITIALIZER;
static int g_nSeen = 0; /* progress and end events; guarded by g_lock */
static int g_nExitAt = 0;

static void OnEvent(void* pData, int nCode, const char* pszText, void* pUser) {
  (void)pData, (void)pszText, (void)pUser;
  if (nCode < 1) return;
  if (nCode == g_nExitAt) exit(0);
  pthread_mutex_lock(&g_lock);
  ++g_nSeen;
  pthread_cond_broadcast(&g_changed);
  pthread_mutex_unlock(&g_lock);
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const int nArg = atoi(argv[1]);
  g_nExitAt = nArg < 0 ? -nArg : 0;
  for (int i = 2; i < argc; ++i) AddToDedupeLists(argv[i], i);
  if (StartDedupeThread(OnEvent, NULL, TWINTONE_MATCH_FINGERPRINT, 5, 80) != 0) return 2;
  pthread_mutex_lock(&g_lock);
  /* The end event counts too, so a run shorter than n does not keep us waiting. */
  while (g_nSeen < nArg && g_nSeen < argc - 1) pthread_cond_wait(&g_changed, &g_lock);
  pthread_mutex_unlock(&g_lock);
  return 0;
}
