// The waveOut device: formats, callbacks in order, pause, reset, close, position, volume,
// and the null, WAV and stepping sinks behind it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "platform/backend/audio/stepping_sink.h"
#include "platform/platform.h"

namespace {

// Everything the device told the callback, for a test to wait on and look at.
struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<UINT> messages;
  std::vector<WAVEHDR*> done;
  std::vector<DWORD_PTR> instances;

  // Waits (in real time, so a virtual clock stays put) until count buffers came back.
  bool wait_done(size_t count, int milliseconds = 5000) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return done.size() >= count; });
  }
  size_t done_count() {
    std::lock_guard lock(mutex);
    return done.size();
  }
};

void record(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR parameter1, DWORD_PTR) {
  auto* recorder = reinterpret_cast<Recorder*>(instance);
  std::lock_guard lock(recorder->mutex);
  recorder->messages.push_back(message);
  recorder->instances.push_back(instance);
  if (message == WOM_DONE) recorder->done.push_back(reinterpret_cast<WAVEHDR*>(parameter1));
  recorder->changed.notify_all();
}

WAVEFORMATEX pcm(DWORD rate, WORD channels, WORD bits) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = channels;
  format.nSamplesPerSec = rate;
  format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  format.nAvgBytesPerSec = rate * format.nBlockAlign;
  format.wBitsPerSample = bits;
  return format;
}

// Buffers with headers, each filled with its own bytes.
struct Buffers {
  std::vector<std::vector<char>> data;
  std::vector<WAVEHDR> headers;

  explicit Buffers(const std::vector<size_t>& sizes) : data(sizes.size()), headers(sizes.size()) {
    unsigned seed = 7;
    for (size_t i = 0; i < sizes.size(); ++i) {
      data[i].resize(sizes[i]);
      for (char& byte : data[i]) byte = static_cast<char>(seed = seed * 1103515245u + 12345u, seed >> 16);
      headers[i] = WAVEHDR{};
      headers[i].lpData = data[i].data();
      headers[i].dwBufferLength = static_cast<DWORD>(sizes[i]);
    }
  }
  std::vector<uint8_t> joined() const {
    std::vector<uint8_t> all;
    for (const auto& block : data) all.insert(all.end(), block.begin(), block.end());
    return all;
  }
  void prepare_and_write(HWAVEOUT device) {
    for (WAVEHDR& header : headers) {
      ASSERT_EQ(waveOutPrepareHeader(device, &header, sizeof header), MMSYSERR_NOERROR);
      ASSERT_EQ(waveOutWrite(device, &header, sizeof header), MMSYSERR_NOERROR);
    }
  }
  void unprepare(HWAVEOUT device) {
    for (WAVEHDR& header : headers) EXPECT_EQ(waveOutUnprepareHeader(device, &header, sizeof header), MMSYSERR_NOERROR);
  }
};

class WaveOut : public ::testing::Test {
 protected:
  void SetUp() override { use_sink("stepping"); }
  void TearDown() override {
    platform::audio_stepping_reset();
    waveOutSetVolume(nullptr, 0xFFFFFFFFu);
    unsetenv("ZRK_AUDIO");
  }
  static void use_sink(const std::string& sink) {
    setenv("ZRK_AUDIO", sink.c_str(), 1);
    platform::audio_stepping_reset();
  }
  HWAVEOUT open(const WAVEFORMATEX& format) {
    HWAVEOUT device = nullptr;
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(record),
                          reinterpret_cast<DWORD_PTR>(&recorder), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    return device;
  }

  Recorder recorder;
};

TEST_F(WaveOut, OpenChecksTheFormat) {
  struct Row {
    const char* name;
    WAVEFORMATEX format;
    MMRESULT expected;
  };
  auto with = [](WAVEFORMATEX format, auto change) {
    change(format);
    return format;
  };
  const WAVEFORMATEX base = pcm(22050, 1, 16);
  const Row rows[] = {
      {"8-bit mono 8000 Hz", pcm(8000, 1, 8), MMSYSERR_NOERROR},
      {"8-bit stereo 22050 Hz", pcm(22050, 2, 8), MMSYSERR_NOERROR},
      {"16-bit mono 11025 Hz", pcm(11025, 1, 16), MMSYSERR_NOERROR},
      {"16-bit stereo 44100 Hz", pcm(44100, 2, 16), MMSYSERR_NOERROR},
      {"odd rate 12345 Hz", pcm(12345, 2, 16), MMSYSERR_NOERROR},
      {"not PCM", with(base, [](WAVEFORMATEX& f) { f.wFormatTag = 2; }), WAVERR_BADFORMAT},
      {"no channels", pcm(22050, 0, 16), WAVERR_BADFORMAT},
      {"three channels", pcm(22050, 3, 16), WAVERR_BADFORMAT},
      {"24-bit", pcm(22050, 2, 24), WAVERR_BADFORMAT},
      {"4-bit", with(base, [](WAVEFORMATEX& f) { f.wBitsPerSample = 4; }), WAVERR_BADFORMAT},
      {"rate 0", pcm(0, 1, 16), WAVERR_BADFORMAT},
      {"block align wrong", with(base, [](WAVEFORMATEX& f) { f.nBlockAlign = 4; }), WAVERR_BADFORMAT},
      {"byte rate wrong", with(base, [](WAVEFORMATEX& f) { f.nAvgBytesPerSec = 1; }), WAVERR_BADFORMAT},
  };
  for (const Row& row : rows) {
    HWAVEOUT device = nullptr;
    EXPECT_EQ(waveOutOpen(nullptr, 0, &row.format, 0, 0, WAVE_FORMAT_QUERY), row.expected) << row.name << " (query)";
    EXPECT_EQ(waveOutOpen(&device, 0, &row.format, 0, 0, CALLBACK_NULL), row.expected) << row.name;
    if (row.expected == MMSYSERR_NOERROR) {
      EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR) << row.name;
    }
  }
}

TEST_F(WaveOut, OpenRefusesBadArguments) {
  const WAVEFORMATEX format = pcm(22050, 1, 16);
  HWAVEOUT device = nullptr;
  struct Row {
    const char* name;
    LPHWAVEOUT device;
    UINT id;
    LPCWAVEFORMATEX format;
    DWORD_PTR callback;
    DWORD flags;
    MMRESULT expected;
  };
  const Row rows[] = {
      {"null format", &device, 0, nullptr, 0, CALLBACK_NULL, MMSYSERR_INVALPARAM},
      {"null handle out", nullptr, 0, &format, 0, CALLBACK_NULL, MMSYSERR_INVALPARAM},
      {"function without callback", &device, 0, &format, 0, CALLBACK_FUNCTION, MMSYSERR_INVALPARAM},
      {"event without handle", &device, 0, &format, 0, CALLBACK_EVENT, MMSYSERR_INVALPARAM},
      {"window callback", &device, 0, &format, 1, CALLBACK_WINDOW, MMSYSERR_NOTSUPPORTED},
      {"unknown flag", &device, 0, &format, 0, 0x80000000u, MMSYSERR_INVALFLAG},
      {"device 1", &device, 1, &format, 0, CALLBACK_NULL, MMSYSERR_BADDEVICEID},
  };
  for (const Row& row : rows)
    EXPECT_EQ(waveOutOpen(row.device, row.id, row.format, row.callback, 0, row.flags), row.expected) << row.name;
  EXPECT_EQ(waveOutGetNumDevs(), 1u);

  use_sink("no-such-sink");
  EXPECT_EQ(waveOutOpen(&device, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
  use_sink("wav:/no/such/folder/out.wav");
  EXPECT_EQ(waveOutOpen(&device, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
  // ALSA without a usable card falls back to the null sink; with one it plays: either opens.
  use_sink("alsa");
  ASSERT_EQ(waveOutOpen(&device, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  HWAVEOUT second = nullptr;
  EXPECT_EQ(waveOutOpen(&second, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
  EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(device), MMSYSERR_INVALHANDLE) << "a closed handle stays dead";
  EXPECT_EQ(waveOutPause(device), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveOut, HeaderCallsCheckTheirArguments) {
  HWAVEOUT device = open(pcm(8000, 1, 8));
  Buffers buffers({64, 64});
  WAVEHDR& first = buffers.headers[0];
  WAVEHDR& second = buffers.headers[1];
  EXPECT_EQ(waveOutWrite(device, &first, sizeof first), WAVERR_UNPREPARED);
  EXPECT_EQ(waveOutPrepareHeader(device, nullptr, sizeof first), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutPrepareHeader(device, &first, sizeof first - 1), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutPrepareHeader(nullptr, &first, sizeof first), MMSYSERR_INVALHANDLE);
  ASSERT_EQ(waveOutPrepareHeader(device, &first, sizeof first), MMSYSERR_NOERROR);
  EXPECT_EQ(first.dwFlags, WHDR_PREPARED);
  ASSERT_EQ(waveOutWrite(device, &first, sizeof first), MMSYSERR_NOERROR);
  EXPECT_EQ(first.dwFlags & (WHDR_INQUEUE | WHDR_DONE), WHDR_INQUEUE);
  EXPECT_EQ(waveOutWrite(device, &first, sizeof first), WAVERR_STILLPLAYING) << "queued twice";
  EXPECT_EQ(waveOutUnprepareHeader(device, &first, sizeof first), WAVERR_STILLPLAYING);
  second.lpData = nullptr;
  ASSERT_EQ(waveOutPrepareHeader(device, &second, sizeof second), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutWrite(device, &second, sizeof second), MMSYSERR_INVALPARAM) << "no data, non-zero length";
  EXPECT_EQ(waveOutClose(device), WAVERR_STILLPLAYING);
  platform::audio_stepping_complete(1);
  ASSERT_TRUE(recorder.wait_done(1));
  EXPECT_EQ(first.dwFlags, WHDR_PREPARED | WHDR_DONE);
  EXPECT_EQ(waveOutUnprepareHeader(device, &first, sizeof first), MMSYSERR_NOERROR);
  EXPECT_EQ(first.dwFlags, WHDR_DONE);
  EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
  std::lock_guard lock(recorder.mutex);
  EXPECT_EQ(recorder.messages, (std::vector<UINT>{WOM_OPEN, WOM_DONE, WOM_CLOSE}));
  for (DWORD_PTR instance : recorder.instances) EXPECT_EQ(instance, reinterpret_cast<DWORD_PTR>(&recorder));
}

TEST_F(WaveOut, EventCallbackIsSetForEachMessage) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  const WAVEFORMATEX format = pcm(8000, 1, 8);
  HWAVEOUT device = nullptr;
  ASSERT_EQ(waveOutOpen(&device, 0, &format, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT),
            MMSYSERR_NOERROR);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "open";
  Buffers buffers({16});
  buffers.prepare_and_write(device);
  EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT) << "set before the buffer was played";
  platform::audio_stepping_complete(1);
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0) << "done";
  buffers.unprepare(device);
  ASSERT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "close";
  CloseHandle(event);
}

TEST_F(WaveOut, ScriptsFindTheFunctionsInCoredll) {
  HMODULE coredll = LoadLibraryW(u"coredll.dll");
  ASSERT_NE(coredll, nullptr);
  EXPECT_EQ(GetProcAddress(coredll, "waveOutOpen"), reinterpret_cast<void*>(&waveOutOpen));
  EXPECT_EQ(GetProcAddress(coredll, "waveOutWrite"), reinterpret_cast<void*>(&waveOutWrite));
  EXPECT_EQ(GetProcAddress(coredll, "FindResourceW"), reinterpret_cast<void*>(&FindResourceW));
}

TEST_F(WaveOut, BuffersComeBackInOrderAsTheSinkTakesThem) {
  HWAVEOUT device = open(pcm(11025, 2, 16));
  std::vector<size_t> sizes;
  for (size_t i = 0; i < 16; ++i) sizes.push_back(4 * (1 + i * 37 % 50));
  Buffers buffers(sizes);
  buffers.prepare_and_write(device);
  size_t granted = 0;
  for (uint32_t step : {3u, 1u, 5u, 7u}) {
    platform::audio_stepping_complete(step);
    granted += step;
    ASSERT_TRUE(recorder.wait_done(granted)) << "after granting " << granted;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(recorder.done_count(), granted) << "a buffer came back before the sink took it";
    for (size_t i = 0; i < buffers.headers.size(); ++i)
      EXPECT_EQ((buffers.headers[i].dwFlags & WHDR_DONE) != 0, i < granted) << "buffer " << i << " after " << granted;
  }
  {
    std::lock_guard lock(recorder.mutex);
    for (size_t i = 0; i < buffers.headers.size(); ++i) EXPECT_EQ(recorder.done[i], &buffers.headers[i]) << "position " << i;
  }
  EXPECT_EQ(platform::audio_stepping_played(), buffers.joined());
  buffers.unprepare(device);
  EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveOut, PauseHoldsEveryBufferAndRestartLosesNothing) {
  HWAVEOUT device = open(pcm(8000, 1, 8));
  Buffers buffers({100, 37, 250, 8, 64, 90});
  buffers.prepare_and_write(device);
  platform::audio_stepping_complete(2);
  ASSERT_TRUE(recorder.wait_done(2));
  ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutPause(device), MMSYSERR_NOERROR) << "pausing twice";
  platform::audio_stepping_complete(4);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(recorder.done_count(), 2u) << "a buffer came back while paused";
  EXPECT_EQ(platform::audio_stepping_played().size(), 137u) << "the sink was fed while paused";
  ASSERT_EQ(waveOutRestart(device), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutRestart(device), MMSYSERR_NOERROR) << "restarting a playing device";
  ASSERT_TRUE(recorder.wait_done(6));
  EXPECT_EQ(platform::audio_stepping_played(), buffers.joined());
  buffers.unprepare(device);
  EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveOut, ResetHandsBackEveryQueuedBuffer) {
  HWAVEOUT device = open(pcm(22050, 1, 16));
  Buffers buffers({200, 200, 200, 200, 200});
  buffers.prepare_and_write(device);
  platform::audio_stepping_complete(1);
  ASSERT_TRUE(recorder.wait_done(1));
  ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
  {
    std::lock_guard lock(recorder.mutex);
    ASSERT_EQ(recorder.done.size(), 5u) << "reset returned before handing every buffer back";
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(recorder.done[i], &buffers.headers[i]) << "position " << i;
      EXPECT_EQ(buffers.headers[i].dwFlags, WHDR_PREPARED | WHDR_DONE) << "buffer " << i;
    }
  }
  MMTIME time{TIME_BYTES, {}};
  ASSERT_EQ(waveOutGetPosition(device, &time, sizeof time), MMSYSERR_NOERROR);
  EXPECT_EQ(time.u.cb, 0u) << "reset sets the position to 0";
  // Still paused after the reset: a new buffer waits for restart.
  platform::audio_stepping_complete(1);
  ASSERT_EQ(waveOutWrite(device, &buffers.headers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  EXPECT_FALSE(recorder.wait_done(6, 100));
  ASSERT_EQ(waveOutRestart(device), MMSYSERR_NOERROR);
  ASSERT_TRUE(recorder.wait_done(6));
  buffers.unprepare(device);
  EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveOut, PositionInEachTimeFormat) {
  HWAVEOUT device = open(pcm(8000, 2, 16));
  Buffers buffers({800, 800});  // 400 frames, 50 ms
  buffers.prepare_and_write(device);
  platform::audio_stepping_complete(2);
  ASSERT_TRUE(recorder.wait_done(2));
  struct Row {
    UINT asked;
    UINT answered;
    DWORD value;
  };
  for (const Row& row : {Row{TIME_BYTES, TIME_BYTES, 1600}, Row{TIME_SAMPLES, TIME_SAMPLES, 400},
                         Row{TIME_MS, TIME_MS, 50}, Row{TIME_SMPTE, TIME_BYTES, 1600}}) {
    MMTIME time{row.asked, {}};
    ASSERT_EQ(waveOutGetPosition(device, &time, sizeof time), MMSYSERR_NOERROR);
    EXPECT_EQ(time.wType, row.answered) << "asked " << row.asked;
    EXPECT_EQ(time.u.cb, row.value) << "asked " << row.asked;
  }
  MMTIME time{};
  EXPECT_EQ(waveOutGetPosition(device, &time, sizeof time - 1), MMSYSERR_INVALPARAM);
  buffers.unprepare(device);
  EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveOut, VolumeScalesEachChannel) {
  struct Row {
    const char* name;
    WORD channels;
    WORD bits;
    DWORD volume;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
  };
  const Row rows[] = {
      {"16-bit stereo, left half", 2, 16, 0xFFFF8000u, {0xE8, 0x03, 0x18, 0xFC}, {0xF4, 0x01, 0x18, 0xFC}},
      {"16-bit stereo, right off", 2, 16, 0x0000FFFFu, {0xE8, 0x03, 0x18, 0xFC}, {0xE8, 0x03, 0x00, 0x00}},
      {"8-bit mono, left quarter", 1, 8, 0xFFFF4000u, {0x00, 0x80, 0xFF, 0x90}, {0x60, 0x80, 0x9F, 0x84}},
      {"8-bit mono, silent", 1, 8, 0u, {0x00, 0xFF}, {0x80, 0x80}},
  };
  for (const Row& row : rows) {
    platform::audio_stepping_reset();
    Recorder rows_recorder;
    HWAVEOUT device = nullptr;
    const WAVEFORMATEX format = pcm(8000, row.channels, row.bits);
    ASSERT_EQ(waveOutOpen(&device, 0, &format, reinterpret_cast<DWORD_PTR>(record),
                          reinterpret_cast<DWORD_PTR>(&rows_recorder), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutSetVolume(device, row.volume), MMSYSERR_NOERROR);
    DWORD volume = 0;
    ASSERT_EQ(waveOutGetVolume(nullptr, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, row.volume) << row.name;
    std::vector<uint8_t> samples = row.in;
    WAVEHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(samples.data());
    header.dwBufferLength = static_cast<DWORD>(samples.size());
    ASSERT_EQ(waveOutPrepareHeader(device, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(device, &header, sizeof header), MMSYSERR_NOERROR);
    platform::audio_stepping_complete(1);
    ASSERT_TRUE(rows_recorder.wait_done(1)) << row.name;
    EXPECT_EQ(platform::audio_stepping_played(), row.out) << row.name;
    EXPECT_EQ(samples, row.in) << row.name << ": the caller's buffer was changed";
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
  }
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

uint32_t little_u32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
}

// The WAV sink writes real time; a pause in the middle of a buffer must neither drop nor
// repeat a byte, and the file must be a valid RIFF WAVE that another reader accepts.
TEST_F(WaveOut, WavSinkRecordsWhatWasPlayedAcrossAPause) {
  const std::string path = std::string(ZRK_TEST_BINARY_DIR) + "/wave_out_pause_" + std::to_string(getpid()) + ".wav";
  std::remove(path.c_str());
  use_sink("wav:" + path);
  HWAVEOUT device = open(pcm(8000, 2, 16));
  Buffers buffers({3200, 3200, 1604});  // 100 ms, 100 ms, about 50 ms
  buffers.prepare_and_write(device);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
  MMTIME before{TIME_BYTES, {}};
  MMTIME after{TIME_BYTES, {}};
  waveOutGetPosition(device, &before, sizeof before);
  const size_t done_before = recorder.done_count();
  std::this_thread::sleep_for(std::chrono::milliseconds(80));
  waveOutGetPosition(device, &after, sizeof after);
  EXPECT_EQ(after.u.cb, before.u.cb) << "playing went on while paused";
  EXPECT_EQ(recorder.done_count(), done_before);
  EXPECT_LT(after.u.cb, 8004u) << "the pause came too late to fall inside the sound";
  ASSERT_EQ(waveOutRestart(device), MMSYSERR_NOERROR);
  ASSERT_TRUE(recorder.wait_done(3));
  buffers.unprepare(device);
  ASSERT_EQ(waveOutClose(device), MMSYSERR_NOERROR);

  const std::vector<uint8_t> file = read_file(path);
  ASSERT_EQ(file.size(), 44u + 8004u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
  EXPECT_EQ(little_u32(file, 4), 36u + 8004u);
  EXPECT_EQ(little_u32(file, 40), 8004u);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 44, file.end()), buffers.joined());

  if (std::system("python3 -c 'import wave' 2>/dev/null") != 0) GTEST_SKIP() << "python3 is not available";
  const std::string command = "python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); "
                              "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(), "
                              "w.readframes(w.getnframes()).hex())\" " + path;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string answer;
  char chunk[4096];
  while (size_t got = fread(chunk, 1, sizeof chunk, pipe)) answer.append(chunk, got);
  pclose(pipe);
  std::string hex;
  for (uint8_t byte : buffers.joined()) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", byte);
    hex += two;
  }
  EXPECT_EQ(answer, "2 2 8000 2001 " + hex + "\n");
  std::remove(path.c_str());
}

// Under the virtual clock the null sink plays exactly as far as the program has moved the
// clock and never moves it itself (a sound thread moving it would make runs differ), and a
// reset does not wait for time that never comes.
TEST_F(WaveOut, NullSinkPlaysAsFarAsTheVirtualClockWasMoved) {
  use_sink("null");
  platform::clock_select_virtual(true);
  struct Row {
    DWORD rate;
    WORD channels;
    WORD bits;
    std::vector<size_t> sizes;
  };
  const Row rows[] = {
      {44100, 1, 16, {44100, 22050, 22050, 882}},  // 0.5 s + 0.25 s + 0.25 s + 10 ms
      {22050, 2, 16, {4 * 2205, 4 * 2205, 4 * 11025}},
      {8000, 1, 8, {1, 7, 8, 16, 8}},  // 40 frames at 8 kHz
      {11025, 1, 8, {11025 * 3}},
  };
  for (const Row& row : rows) {
    Recorder row_recorder;
    const WAVEFORMATEX format = pcm(row.rate, row.channels, row.bits);
    const size_t frame_bytes = size_t{row.channels} * row.bits / 8;
    auto end_of = [&](size_t buffers) {  // microseconds from the start to the end of a buffer
      size_t frames = 0;
      for (size_t i = 0; i < buffers; ++i) frames += row.sizes[i] / frame_bytes;
      return uint64_t{frames} * 1000000u / row.rate;
    };
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, 0, &format, reinterpret_cast<DWORD_PTR>(record),
                          reinterpret_cast<DWORD_PTR>(&row_recorder), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    const uint64_t start = platform::clock_now_microseconds();
    Buffers buffers(row.sizes);
    buffers.prepare_and_write(device);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(row_recorder.done_count(), 0u) << row.rate << " Hz: played while the clock stood";
    platform::clock_advance_microseconds(end_of(1));
    ASSERT_TRUE(row_recorder.wait_done(1, 20000)) << row.rate;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(row_recorder.done_count(), 1u) << row.rate << " Hz: played past the clock";
    platform::clock_advance_microseconds(end_of(row.sizes.size()) - end_of(1));
    ASSERT_TRUE(row_recorder.wait_done(row.sizes.size(), 20000)) << row.rate;
    EXPECT_EQ(platform::clock_now_microseconds() - start, end_of(row.sizes.size())) << row.rate << " Hz";
    buffers.unprepare(device);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
  }

  Recorder waiting;
  const WAVEFORMATEX format = pcm(22050, 1, 16);
  HWAVEOUT device = nullptr;
  ASSERT_EQ(waveOutOpen(&device, 0, &format, reinterpret_cast<DWORD_PTR>(record),
                        reinterpret_cast<DWORD_PTR>(&waiting), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  Buffers second({44100});
  second.prepare_and_write(device);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  EXPECT_EQ(waiting.done_count(), 1u);
  second.unprepare(device);
  EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
  platform::clock_select_virtual(false);
}

// No callback may come after close returns, however the close meets the playing thread.
std::atomic<bool> device_closed{true};
std::atomic<int> late_callbacks{0};
std::atomic<bool> keep_streaming{false};

void streaming_callback(HWAVEOUT device, UINT message, DWORD_PTR, DWORD_PTR parameter1, DWORD_PTR) {
  if (device_closed) ++late_callbacks;
  if (message == WOM_DONE && keep_streaming) {
    auto* header = reinterpret_cast<WAVEHDR*>(parameter1);
    waveOutWrite(device, header, sizeof *header);
  }
}

TEST_F(WaveOut, NoCallbackAfterCloseWhileBuffersAreInFlight) {
  use_sink("null");
  const WAVEFORMATEX format = pcm(8000, 1, 8);
  for (int cycle = 0; cycle < 20; ++cycle) {
    HWAVEOUT device = nullptr;
    device_closed = false;
    ASSERT_EQ(waveOutOpen(&device, 0, &format, reinterpret_cast<DWORD_PTR>(streaming_callback), 0, CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffers buffers({40, 40, 40, 40});  // 5 ms each
    keep_streaming = true;
    buffers.prepare_and_write(device);
    std::this_thread::sleep_for(std::chrono::milliseconds(cycle % 7 * 3));
    if (cycle % 2) {
      EXPECT_EQ(waveOutClose(device), WAVERR_STILLPLAYING) << "cycle " << cycle;
    }
    keep_streaming = false;
    ASSERT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
    buffers.unprepare(device);
    ASSERT_EQ(waveOutClose(device), MMSYSERR_NOERROR) << "cycle " << cycle;
    device_closed = true;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(late_callbacks, 0);
}

// A callback that pauses, resets or closes the device on the first buffer it gets back.
struct Reentry {
  Recorder recorder;
  MMRESULT (*action)(HWAVEOUT) = nullptr;
  std::atomic<int> acted{0};
  std::atomic<MMRESULT> result{0xFFFF};
};

void reentering_callback(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR parameter1, DWORD_PTR) {
  auto* reentry = reinterpret_cast<Reentry*>(instance);
  if (message == WOM_DONE && reentry->acted++ == 0) reentry->result = reentry->action(device);
  record(device, message, reinterpret_cast<DWORD_PTR>(&reentry->recorder), parameter1, 0);
}

TEST_F(WaveOut, CallbacksMayPauseOrResetButNotClose) {
  struct Row {
    const char* name;
    MMRESULT (*action)(HWAVEOUT);
    MMRESULT result;
    size_t done_after_two_more_grants;
  };
  const Row rows[] = {
      {"pause", waveOutPause, MMSYSERR_NOERROR, 1},
      {"reset", waveOutReset, MMSYSERR_NOERROR, 3},
      {"close", waveOutClose, MMSYSERR_HANDLEBUSY, 3},
  };
  for (const Row& row : rows) {
    platform::audio_stepping_reset();
    Reentry reentry;
    reentry.action = row.action;
    const WAVEFORMATEX format = pcm(8000, 1, 8);
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, 0, &format, reinterpret_cast<DWORD_PTR>(reentering_callback),
                          reinterpret_cast<DWORD_PTR>(&reentry), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffers buffers({10, 20, 30});
    buffers.prepare_and_write(device);
    platform::audio_stepping_complete(1);
    // A reset inside the callback hands the others back before the callback returns.
    for (int wait = 0; wait < 500 && reentry.result == 0xFFFF; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(reentry.result, row.result) << row.name;
    platform::audio_stepping_complete(2);
    reentry.recorder.wait_done(row.done_after_two_more_grants, 200);
    EXPECT_EQ(reentry.recorder.done_count(), row.done_after_two_more_grants) << row.name;
    waveOutRestart(device);
    ASSERT_TRUE(reentry.recorder.wait_done(3)) << row.name;
    buffers.unprepare(device);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR) << row.name;
  }
}

// The sound library's pattern: a mixing thread refills one buffer per WOM_DONE (counted by a
// semaphore) under a critical section; pausing takes that section, pauses the device and
// suspends the thread. No buffer may be mixed while paused.
struct Mixer {
  HWAVEOUT device = nullptr;
  HANDLE semaphore = nullptr;
  CRITICAL_SECTION section;
  std::vector<char> memory;
  WAVEHDR headers[4]{};
  size_t next = 0;
  std::atomic<int> mixed{0};
  std::atomic<bool> stop{false};
};

void mixer_callback(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
  if (message == WOM_DONE && instance) ReleaseSemaphore(reinterpret_cast<Mixer*>(instance)->semaphore, 1, nullptr);
}

DWORD mixer_thread(LPVOID parameter) {
  auto* mixer = static_cast<Mixer*>(parameter);
  while (!mixer->stop) {
    while (WaitForSingleObject(mixer->semaphore, 3) == WAIT_OBJECT_0) {
      EnterCriticalSection(&mixer->section);
      WAVEHDR& header = mixer->headers[mixer->next];
      ++mixer->mixed;
      waveOutUnprepareHeader(mixer->device, &header, sizeof header);
      const LPSTR data = header.lpData;
      header = WAVEHDR{};
      header.lpData = data;
      header.dwBufferLength = 160;
      waveOutPrepareHeader(mixer->device, &header, sizeof header);
      waveOutWrite(mixer->device, &header, sizeof header);
      mixer->next = (mixer->next + 1) % 4;
      LeaveCriticalSection(&mixer->section);
    }
  }
  return 0;
}

TEST_F(WaveOut, SuspendedMixerMixesNothingWhilePaused) {
  use_sink("null");
  Mixer mixer;
  mixer.semaphore = CreateSemaphoreW(nullptr, 0, 5, nullptr);
  InitializeCriticalSection(&mixer.section);
  mixer.memory.assign(4 * 160, static_cast<char>(0x80));
  HANDLE thread = CreateThread(nullptr, 0, mixer_thread, &mixer, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  const WAVEFORMATEX format = pcm(8000, 1, 8);  // 160 bytes = 20 ms
  ASSERT_EQ(waveOutOpen(&mixer.device, 0, &format, reinterpret_cast<DWORD_PTR>(mixer_callback),
                        reinterpret_cast<DWORD_PTR>(&mixer), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  waveOutPause(mixer.device);
  for (int i = 0; i < 4; ++i) {
    mixer.headers[i].lpData = mixer.memory.data() + i * 160;
    mixer.headers[i].dwBufferLength = 160;
    waveOutPrepareHeader(mixer.device, &mixer.headers[i], sizeof(WAVEHDR));
    waveOutWrite(mixer.device, &mixer.headers[i], sizeof(WAVEHDR));
  }
  auto pause_output = [&] {
    EnterCriticalSection(&mixer.section);
    waveOutPause(mixer.device);
    SuspendThread(thread);
    LeaveCriticalSection(&mixer.section);
  };
  auto resume_output = [&] {
    EnterCriticalSection(&mixer.section);
    ResumeThread(thread);
    waveOutRestart(mixer.device);
    LeaveCriticalSection(&mixer.section);
  };
  resume_output();
  for (int round = 0; round < 5; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + round * 7));
    pause_output();
    const int at_pause = mixer.mixed;
    std::this_thread::sleep_for(std::chrono::milliseconds(70));
    EXPECT_EQ(mixer.mixed, at_pause) << "round " << round << ": mixed while paused";
    resume_output();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_GT(mixer.mixed, 5) << "the stream did not run between pauses";

  EnterCriticalSection(&mixer.section);
  mixer.stop = true;
  LeaveCriticalSection(&mixer.section);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_EQ(waveOutReset(mixer.device), MMSYSERR_NOERROR);
  for (WAVEHDR& header : mixer.headers) waveOutUnprepareHeader(mixer.device, &header, sizeof header);
  EXPECT_EQ(waveOutClose(mixer.device), MMSYSERR_NOERROR);
  DeleteCriticalSection(&mixer.section);
  CloseHandle(mixer.semaphore);
}

}  // namespace
