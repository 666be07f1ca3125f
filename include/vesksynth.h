/*
 * vesksynth.h - host interface of the Vesk Mandarin speech engine.
 *
 * The engine is a plug-in library: the host loads it, calls the fourteen
 * functions below and receives audio through a play callback. The engine
 * never plays sound itself.
 *
 * Conventions
 *  - Strings are NUL-terminated UTF-16 (char16_t) on every platform. Buffers
 *    passed in belong to the caller.
 *  - Every function except VeskSynthSetPlayCallback returns a one-byte
 *    boolean: 0 = false, 1 = true.
 *  - On 32-bit Windows every function and callback is __cdecl and exported
 *    under its undecorated name; elsewhere the platform's C convention.
 *  - Any host thread may call any function. Initialize, Uninitialize,
 *    PrepareVoice and Speak should come from one thread at a time.
 *  - Everything the engine needs (pinyin.txt, phrases.txt, *.vl voices) lies
 *    in the directory of the library file itself.
 *
 * Callback pointers may be either the address of the function or the address
 * of a writable variable holding it; the engine tells them apart once, when
 * the pointer is installed.
 */
#ifndef VESKSYNTH_H
#define VESKSYNTH_H

#include <stdint.h>

#ifndef __cplusplus
#include <uchar.h>
#endif

#if defined(_WIN32)
#define VESK_CALL __cdecl
#if defined(VESKSYNTH_BUILDING)
#define VESK_API __declspec(dllexport)
#else
#define VESK_API __declspec(dllimport)
#endif
#else
#define VESK_CALL
#if defined(VESKSYNTH_BUILDING)
#define VESK_API __attribute__((visibility("default")))
#else
#define VESK_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One-byte boolean result: 0 = false, 1 = true. */
typedef uint8_t VeskBool;

/* Receives start-up and shutdown messages. level: 1 information, 2 warning
 * (a fallback was taken), 4 error. text is valid only during the call. Called
 * only on the thread that runs VeskSynthInitialize or VeskSynthUninitialize. */
typedef void(VESK_CALL* LogCallback)(int32_t level, const char16_t* text);

/* Receives audio: signed 16-bit little-endian mono PCM at the voice's sample
 * rate, byteCount bytes (always even, at most one second). voiceName is the
 * voice actually speaking. The last call of an utterance that ran to its end
 * passes samples == NULL and byteCount == 0. Pointers are valid only during
 * the call; the result is ignored. Called on the engine's worker thread. */
typedef int32_t(VESK_CALL* PlayCallback)(const char16_t* voiceName,
                                         const int16_t* samples,
                                         int32_t byteCount, int32_t userValue);

/* Filled by VeskSynthGetInfo: 384 bytes. */
typedef struct EngineInfo {
  char16_t name[128];   /* engine name, NUL-terminated */
  char16_t version[64]; /* version, NUL-terminated */
} EngineInfo;

/* Filled by VeskSynthGetAudioFormat: exactly these 12 bytes are written. */
typedef struct AudioFormat {
  int32_t formatTag;     /* always 1: linear PCM */
  int32_t sampleRate;    /* samples per second of the current voice */
  int32_t bitsPerSample; /* always 16; the audio is always mono */
} AudioFormat;

/* Starts the engine: loads the dictionaries and every *.vl voice beside the
 * library, reporting through logCallback (may be NULL). True when at least
 * one voice was loaded. A second call while initialised returns true and
 * changes nothing. */
VESK_API VeskBool VESK_CALL VeskSynthInitialize(LogCallback logCallback);

/* Stops speech, unloads the voices, logs, and drops both callbacks. Rate,
 * pitch, volume and the dictionaries survive. Always true. */
VESK_API VeskBool VESK_CALL VeskSynthUninitialize(void);

/* Copies the engine name and version into *info. False for NULL. */
VESK_API VeskBool VESK_CALL VeskSynthGetInfo(EngineInfo* info);

/* names == NULL: writes the number of voices to *count. Otherwise copies up to
 * *count voice names, in name order, into names[i] (each at least 128
 * characters; longer names are cut to 127). *count is then left unchanged.
 * False when count is NULL. */
VESK_API VeskBool VESK_CALL VeskSynthGetVoiceList(char16_t** names,
                                                  uint32_t* count);

/* Makes the named voice current (exact, case-sensitive). False when there is
 * no such voice or name is NULL. */
VESK_API VeskBool VESK_CALL VeskSynthPrepareVoice(const char16_t* name);

/* Writes the audio format of the current voice (16000 Hz before any voice is
 * loaded). False for NULL. */
VESK_API VeskBool VESK_CALL VeskSynthGetAudioFormat(AudioFormat* format);

/* Store value clamped to 0..100 (default 50); it applies from the next
 * utterance on. The first argument is ignored. Always true. */
VESK_API VeskBool VESK_CALL VeskSynthSetRate(intptr_t ignored, int32_t value);
VESK_API VeskBool VESK_CALL VeskSynthSetPitch(intptr_t ignored, int32_t value);
VESK_API VeskBool VESK_CALL VeskSynthSetVolume(intptr_t ignored, int32_t value);

/* Installs the play callback (NULL removes it) and returns the previous one.
 * May be called at any time, also during speech. */
VESK_API PlayCallback VESK_CALL VeskSynthSetPlayCallback(PlayCallback callback);

/* Stops any utterance in progress and starts speaking text asynchronously
 * with the named voice (NULL: the current voice; an unknown name: the first
 * voice). userValue comes back with every play callback. False, and nothing
 * changes, when the engine is not initialised or text is NULL or empty. */
VESK_API VeskBool VESK_CALL VeskSynthSpeak(const char16_t* voiceName,
                                           const char16_t* text,
                                           int32_t userValue);

/* Ends the utterance in progress. From a host thread it returns once no
 * further play callback for that utterance can happen; the stopped utterance
 * gets no final (NULL, 0) call. Safe to call from inside the play callback.
 * Always true. */
VESK_API VeskBool VESK_CALL VeskSynthStop(void);

/* Holds speech at the next chunk boundary. False when nothing is speaking. */
VESK_API VeskBool VESK_CALL VeskSynthPause(void);

/* Lets held speech go on. False when nothing is speaking. */
VESK_API VeskBool VESK_CALL VeskSynthResume(void);

#ifdef __cplusplus
}
#endif

#endif /* VESKSYNTH_H */
