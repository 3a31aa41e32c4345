/*
 * The audio decoder library: decodes any audio file FFmpeg reads into interleaved
 * signed 16-bit PCM (machine byte order) and hands it to the caller through two
 * callbacks.
 *
 * Calling order: CreateConverTask, then DecoderAudio once, then DestroyConvertTask.
 *
 * Task type 1 (the only one) decodes for fingerprinting: whatever the file's rate and
 * channels, the PCM is converted to the format Chromaprint analyses, 11025 Hz mono
 * (channels mixed down with gains that cannot clip). Its user data, when not
 * null, must point at a record that begins with the layout of DecoderUserHeader
 * below; the decoder reads its nSeconds once the info callback has returned: a
 * positive value limits the decode to that many seconds of audio (the last buffer may
 * reach past it by at most one buffer), zero or less decodes the whole stream, and so
 * does a null user. Nothing else of the record is read or written by the decoder.
 *
 * Only regular files are read: a FIFO, a device or a directory fails at once with
 * DECODER_ERR_OPEN, without blocking. FFmpeg prints nothing.
 *
 * Callbacks run on the calling thread, inside DecoderAudio, one at a time:
 *   - the info callback at most once, with (user, 11025, 1, bits per sample = 16),
 *     once the first audio has been decoded and before any data; a non-zero result
 *     ends the decode with failure. A file that fails before
 *     any audio is decoded gets no callback at all;
 *   - the data callback once per PCM buffer, in stream order, with the buffer (valid
 *     only during the call) and its size in bytes, a whole number of sample frames; a
 *     non-zero result ends the decode with failure.
 * No callback is made after DecoderAudio returns. Should the format change inside
 * the stream, later audio is converted all the same.
 */
#ifndef TWINTONE_AUDIO_DECODER_H
#define TWINTONE_AUDIO_DECODER_H

#if defined(TWINTONE_DECODER_BUILDING)
#define TWINTONE_DECODER_EXPORT __attribute__((visibility("default")))
#else
#define TWINTONE_DECODER_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*GetAudioInfoProc)(void* user, int nSampleRate, int nChannels, int nBitsPerSample);
typedef int (*GetDecoderDataProc)(void* user, void* pPcm, int nBytes);

/* The prefix of the user record that a task of type 1 reads. */
typedef struct DecoderUserHeader {
  void* pReserved0;
  void* pReserved1;
  int nSampleRate;
  int nChannels;
  int nInfoExtra;
  int nSeconds; /* > 0: decode at most this many seconds; <= 0: the whole stream */
} DecoderUserHeader;

/* Error codes of DecoderAudio (0 is success). */
#define DECODER_ERR_ARGUMENT -1    /* null task, path or callback, or unknown type */
#define DECODER_ERR_OPEN -2        /* not a regular readable file, or not a media file */
#define DECODER_ERR_NO_AUDIO -3    /* no decodable audio stream */
#define DECODER_ERR_DECODE -4      /* decoding failed, or gave no audio for too long */
#define DECODER_ERR_CALLBACK -5    /* a callback returned non-zero */
#define DECODER_ERR_EMPTY -6       /* no sample came out of the stream */
#define DECODER_ERR_MEMORY -7      /* out of memory */

/* Makes a task of nType (1); pReserved must be null. Returns null on failure. */
TWINTONE_DECODER_EXPORT void* CreateConverTask(int nType, void* pReserved);
/* Decodes pszPath with the task in *phTask. 0 on success, else a DECODER_ERR_ code.
 * The task stays valid whatever the result; the caller destroys it. */
TWINTONE_DECODER_EXPORT int DecoderAudio(void** phTask, const char* pszPath,
                                         GetAudioInfoProc pfnInfo, GetDecoderDataProc pfnData,
                                         void* pUser);
/* Releases the task in *phTask and sets *phTask to null; a null *phTask is ignored.
 * Returns 0, or -1 for a null phTask. */
TWINTONE_DECODER_EXPORT int DestroyConvertTask(void** phTask);

#ifdef __cplusplus
}
#endif

#endif /* TWINTONE_AUDIO_DECODER_H */
