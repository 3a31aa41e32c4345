/*
 * A small twintone host in C: adds a folder, runs asynchronously with a callback,
 * holds the run after its first file and lets it go on, then reads the duplicate
 * groups and clears the engine.
 *
 *   host_example [--fingerprint] FOLDER
 *
 * Without --fingerprint files are grouped by title and artist. Prints one line per
 * file as the run goes, then the groups, then "groups: N". Exit status 0 when the
 * run finished and was cleared, 1 when the library refused a call or did not hold
 * the run, 2 for bad usage.
 */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <twintone.h>

/* What the callback shares with the main thread. Guarded by lock. The callback takes
 * lock on the library's worker thread while the library holds its own data lock, so
 * the main thread never calls into the library while it holds lock. */
typedef struct HostState {
  pthread_mutex_t lock;
  pthread_cond_t changed;
  int nFiles;    /* from the start event */
  int nDone;     /* progress events seen */
  int bEnded;    /* the end event arrived */
  int bPaused;   /* the callback asked the library to hold the run */
} HostState;

/* Runs on the library's worker thread. From inside the start and progress events
 * only PauseDedupeThread, ContinueDedupeThread and QuitDedupeThread may be called;
 * text and data are valid only during the call. */
static void OnDedupeEvent(void* data, int code, const char* text, void* user) {
  HostState* pState = (HostState*)user;
  pthread_mutex_lock(&pState->lock);
  if (code == -1) {
    pState->nFiles = *(const int*)data;
    printf("start: %d file(s)\n", pState->nFiles);
  } else if (code >= 1 && code <= pState->nFiles) {
    pState->nDone = code;
    printf("file %d/%d: %s\n", code, pState->nFiles, text);
    if (code == 1 && PauseDedupeThread() == 0) pState->bPaused = 1;
  } else {
    pState->bEnded = 1;
    printf("end\n");
  }
  fflush(stdout);
  pthread_cond_broadcast(&pState->changed);
  pthread_mutex_unlock(&pState->lock);
}

/* Waits until pred(state) holds or, with nMillis >= 0, that many milliseconds pass.
 * Returns whether pred holds. Called with state->lock held. */
static int WaitFor(HostState* pState, int (*pred)(const HostState*), long nMillis) {
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += nMillis / 1000;
  deadline.tv_nsec += (nMillis % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  while (!pred(pState)) {
    if (nMillis < 0) {
      pthread_cond_wait(&pState->changed, &pState->lock);
    } else if (pthread_cond_timedwait(&pState->changed, &pState->lock, &deadline) == ETIMEDOUT) {
      return pred(pState);
    }
  }
  return 1;
}

static int PausedOrEnded(const HostState* s) { return s->bPaused || s->bEnded; }
static int MovedOnOrEnded(const HostState* s) { return s->nDone > 1 || s->bEnded; }
static int Ended(const HostState* s) { return s->bEnded; }

/* Prints every group: member 0 is the copy to keep. Records belong to the library
 * and stay valid until DedupeDealloc. */
static int PrintGroups(void) {
  int nGroups = GetGroupIdCounts();
  if (nGroups < 0) return -1;
  for (int g = 0; g < nGroups; ++g) {
    tagInMusicDedupInfo* pInfo = NULL;
    int nCount = 0;
    if (GetGroupRef((unsigned int)g, &pInfo, &nCount, 0) != 0) return -1;
    printf("group %d: %d files\n", g + 1, nCount);
    for (int i = 0; i < nCount; ++i) {
      if (GetGroupRef((unsigned int)g, &pInfo, &nCount, i) != 0) return -1;
      printf("  %s %s [%s / %s] %d kbit/s, %d ms, similarity %.2f\n", i == 0 ? "keep" : "dupe",
             pInfo->pszPath, pInfo->pszTitle, pInfo->pszArtist, pInfo->nBitrate,
             pInfo->nDuration, pInfo->fSimilarity);
    }
  }
  printf("groups: %d\n", nGroups);
  return nGroups;
}

int main(int argc, char** argv) {
  int bFingerprint = 0;
  const char* pszFolder = NULL;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--fingerprint") == 0) {
      bFingerprint = 1;
    } else if (pszFolder == NULL && argv[i][0] != '-') {
      pszFolder = argv[i];
    } else {
      pszFolder = NULL;
      break;
    }
  }
  if (pszFolder == NULL) {
    fprintf(stderr, "usage: %s [--fingerprint] FOLDER\n", argv[0]);
    return 2;
  }

  /* The first intake call creates the engine. */
  int nResult = AddToDedupeLists(pszFolder, 0);
  if (nResult != 0) {
    fprintf(stderr, "cannot add %s: %d\n", pszFolder, nResult);
    return 1;
  }
  printf("loaded: %d\n", GetLoadCounts());

  HostState state;
  memset(&state, 0, sizeof state);
  pthread_mutex_init(&state.lock, NULL);
  pthread_cond_init(&state.changed, NULL);

  int nFlags = bFingerprint ? TWINTONE_MATCH_FINGERPRINT
                            : (TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ARTIST);
  /* With a callback the call returns at once; 120 s of audio, 80 % similarity. */
  if (StartDedupeThread(OnDedupeEvent, &state, nFlags, 120, 80) != 0) {
    fprintf(stderr, "cannot start the run\n");
    return 1;
  }

  int bPauseIgnored = 0;
  pthread_mutex_lock(&state.lock);
  WaitFor(&state, PausedOrEnded, -1);
  if (state.bPaused && state.nFiles > 1) {
    /* The run holds before its second file: nothing may move for a while. */
    WaitFor(&state, MovedOnOrEnded, 300);
    bPauseIgnored = state.nDone > 1 || state.bEnded;
    pthread_mutex_unlock(&state.lock);
    printf("held after file 1: %s\n", bPauseIgnored ? "no" : "yes");
    fflush(stdout);
    ContinueDedupeThread();
    pthread_mutex_lock(&state.lock);
  }
  WaitFor(&state, Ended, -1);
  pthread_mutex_unlock(&state.lock);

  /* After the end event the library has let go of its data: read, then clear. */
  int nGroups = PrintGroups();
  if (nGroups < 0) {
    fprintf(stderr, "cannot read the groups\n");
    return 1;
  }
  if (DedupeDealloc() != 0 || GetLoadCounts() != 0) {
    fprintf(stderr, "cannot clear the engine\n");
    return 1;
  }
  printf("cleared\n");
  return bPauseIgnored ? 1 : 0;
}
