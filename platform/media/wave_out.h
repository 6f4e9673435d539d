// The sound output device (waveOut): one device playing PCM buffers that the caller queues,
// returning each through a callback when it has been played. The audio sink behind it is
// chosen by ZRK_AUDIO (see platform/backend/audio/audio_sink.h).
//
// What a caller can rely on:
//  - WOM_DONE callbacks come from the device's own thread, one per buffer, in the order the
//    buffers were written. That thread holds no lock of the device while it calls back, so a
//    callback may call waveOutWrite, waveOutPrepareHeader and waveOutUnprepareHeader.
//  - After waveOutPause returns, no WOM_DONE is delivered until waveOutRestart (or a reset
//    hands the buffers back); a callback that was running when waveOutPause was called has
//    finished by then. So a thread that mixes one buffer per WOM_DONE (counted through a
//    semaphore) and is suspended right after waveOutPause, under the lock it mixes under,
//    gets no buffer to mix while paused. Nothing queued is lost: playback goes on from the
//    same byte after waveOutRestart.
//  - waveOutReset hands back every queued buffer (WHDR_DONE set, one WOM_DONE each, in
//    queue order, delivered on the calling thread before it returns) and sets the position
//    to 0; a paused device stays paused.
//  - No callback of any kind runs after waveOutClose returns (WOM_CLOSE is delivered
//    before). Closing with buffers still queued fails with WAVERR_STILLPLAYING.
//  - Only whole frames are played; a trailing part of a frame in a buffer is skipped.
//    Loop flags (WHDR_BEGINLOOP/ENDLOOP) are ignored: each buffer plays once.
// Pause, reset and close must not be called from inside a callback (close answers
// MMSYSERR_HANDLEBUSY there).
#pragma once

#include "platform/kernel/types.h"

struct HWAVEOUT__;
using HWAVEOUT = HWAVEOUT__*;
using LPHWAVEOUT = HWAVEOUT*;
using MMRESULT = UINT;

// Results of the waveOut functions.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MMSYSERR_HANDLEBUSY = 12;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

// Device id that lets the system pick the device (there is one: id 0).
constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;

// waveOutOpen flags: how the device reports, and a format check that opens nothing.
constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr DWORD CALLBACK_THREAD = 0x00020000;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr DWORD CALLBACK_EVENT = 0x00050000;
constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
constexpr DWORD WAVE_ALLOWSYNC = 0x0002;

// Messages to the callback.
constexpr UINT WOM_OPEN = 0x3BB;
constexpr UINT WOM_CLOSE = 0x3BC;
constexpr UINT WOM_DONE = 0x3BD;

// WAVEHDR flags.
constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_BEGINLOOP = 0x04;
constexpr DWORD WHDR_ENDLOOP = 0x08;
constexpr DWORD WHDR_INQUEUE = 0x10;

constexpr WORD WAVE_FORMAT_PCM = 1;

#pragma pack(push, 1)
// The stream's format: PCM, 8-bit unsigned or 16-bit signed samples, 1 or 2 channels.
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "packed, as files and callers lay it out");
using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPCWAVEFORMATEX = const WAVEFORMATEX*;

// One buffer of samples. lpNext and reserved belong to the device while it is queued.
struct WAVEHDR {
  LPSTR lpData;
  DWORD dwBufferLength;
  DWORD dwBytesRecorded;
  DWORD_PTR dwUser;
  DWORD dwFlags;
  DWORD dwLoops;
  WAVEHDR* lpNext;
  DWORD_PTR reserved;
};
static_assert(sizeof(WAVEHDR) == 32, "the device's size");
using LPWAVEHDR = WAVEHDR*;

// Time formats of MMTIME.
constexpr UINT TIME_MS = 0x01;
constexpr UINT TIME_SAMPLES = 0x02;
constexpr UINT TIME_BYTES = 0x04;
constexpr UINT TIME_SMPTE = 0x08;
constexpr UINT TIME_MIDI = 0x10;
constexpr UINT TIME_TICKS = 0x20;

// A position in one of the time formats, chosen by wType.
struct MMTIME {
  UINT wType;
  union {
    DWORD ms;
    DWORD sample;
    DWORD cb;
    DWORD ticks;
    struct {
      BYTE hour;
      BYTE min;
      BYTE sec;
      BYTE frame;
      BYTE fps;
      BYTE dummy;
      BYTE pad[2];
    } smpte;
    struct {
      DWORD songptrpos;
    } midi;
  } u;
};
static_assert(sizeof(MMTIME) == 12, "the device's size");
using LPMMTIME = MMTIME*;

// The callback of CALLBACK_FUNCTION: message is WOM_OPEN, WOM_CLOSE or WOM_DONE
// (parameter1 is then the finished WAVEHDR*); instance is the value given to waveOutOpen.
using WAVEOUTPROC = void (*)(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR parameter1,
                             DWORD_PTR parameter2);

// Number of output devices: always 1.
UINT waveOutGetNumDevs();

// Opens device 0 (or WAVE_MAPPER) for format and starts it playing. callback is a
// WAVEOUTPROC (CALLBACK_FUNCTION), an event handle (CALLBACK_EVENT, set at each message) or
// unused (CALLBACK_NULL). WAVE_FORMAT_QUERY only checks the format. Errors: WAVERR_BADFORMAT
// for a format the device cannot play, MMSYSERR_INVALPARAM for null arguments,
// MMSYSERR_ALLOCATED when the device is already open, MMSYSERR_NODRIVER when the sink
// cannot start.
MMRESULT waveOutOpen(LPHWAVEOUT device, UINT device_id, LPCWAVEFORMATEX format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags);

// Stops the device and frees the handle; fails with WAVERR_STILLPLAYING while buffers are queued.
MMRESULT waveOutClose(HWAVEOUT device);

// Marks a buffer ready for waveOutWrite; unprepare fails with WAVERR_STILLPLAYING while it is queued.
MMRESULT waveOutPrepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT header_size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT header_size);

// Queues a prepared buffer behind those already queued (WHDR_INQUEUE set, WHDR_DONE cleared).
MMRESULT waveOutWrite(HWAVEOUT device, LPWAVEHDR header, UINT header_size);

// Pause holds playback where it is (see the promises above); restart goes on from there.
// Each does nothing when the device already is in that state.
MMRESULT waveOutPause(HWAVEOUT device);
MMRESULT waveOutRestart(HWAVEOUT device);

// Hands back every queued buffer and sets the position to 0.
MMRESULT waveOutReset(HWAVEOUT device);

// Bytes played since open or the last reset, in the asked format (TIME_BYTES, TIME_SAMPLES or
// TIME_MS; any other is answered in TIME_BYTES, with wType changed).
MMRESULT waveOutGetPosition(HWAVEOUT device, LPMMTIME time, UINT time_size);

// The output volume: low word left, high word right, 0xFFFF full. device may be the open
// handle or null (device 0); the volume holds across opens.
MMRESULT waveOutSetVolume(HWAVEOUT device, DWORD volume);
MMRESULT waveOutGetVolume(HWAVEOUT device, LPDWORD volume);
