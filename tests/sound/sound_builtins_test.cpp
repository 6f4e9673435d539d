// The sound built-ins called as compiled code calls them (arguments pushed, handler run,
// result popped), over the stepping sink: handles and loads, the settings a handle keeps
// and hands to its voice, handles without a live voice, and freeing while others play.
#include <gtest/gtest.h>

#include "eventually.h"

#include <chrono>
#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/hashes.h"
#include "foundation/runtime_error.h"
#include "platform/backend/audio/stepping_sink.h"
#include "sound/sound.h"
#include "sound/sound_builtins.h"
#include "tests/vm/machine_fixture.h"
#include "vm/builtin_registry.h"
#include "app/builtin_table.h"

namespace {

void put32(std::vector<uint8_t>& b, uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); }
void put16(std::vector<uint8_t>& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)); b.push_back(static_cast<uint8_t>(v >> 8)); }

// A 16-bit mono PCM WAV of frames samples of a constant value.
std::vector<uint8_t> wav(uint32_t rate, uint32_t frames) {
  std::vector<uint8_t> b = {'R', 'I', 'F', 'F'};
  put32(b, 36 + frames * 2);
  for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<uint8_t>(c));
  put32(b, 16);
  put16(b, 1);
  put16(b, 1);
  put32(b, rate);
  put32(b, rate * 2);
  put16(b, 2);
  put16(b, 16);
  for (char c : std::string("data")) b.push_back(static_cast<uint8_t>(c));
  put32(b, frames * 2);
  for (uint32_t i = 0; i < frames; ++i) put16(b, 1000);
  return b;
}

// A 4-channel module of one pattern whose first row plays sample 1.
std::vector<uint8_t> module() {
  std::vector<uint8_t> b(1084 + 4 * 256 + 200, 0);
  std::memcpy(&b[1080], "M.K.", 4);
  b[950] = 1;
  b[951] = 127;
  b[20 + 23] = 100;  // sample 1: 100 words, volume 40
  b[20 + 25] = 40;
  b[1084] = 0x10 | 1;  // sample 1, period 428
  b[1085] = 428 & 0xFF;
  return b;
}


class SoundBuiltins : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    setenv("ZRK_AUDIO", "stepping", 1);
    platform::audio_stepping_reset();
    call({22050, 16, 0, 1, 8}, builtin_s_init, false);
    ASSERT_TRUE(system().initialised);
    sample_wav = wav(22050, 4000);
    song = module();
  }
  void TearDown() override {
    call({}, builtin_s_shut, false);
    platform::audio_stepping_reset();
    unsetenv("ZRK_AUDIO");
    stop_flag = 0;
    MachineTest::TearDown();
  }

  static sound::SoundSystem& system() { return runtime_sound_system(); }

  // Pushes the arguments, runs the handler, and checks it left exactly its result.
  double call(std::vector<double> arguments, BuiltinHandler handler, bool returns = true) {
    for (double argument : arguments) stack_push_number(context, argument);
    handler();
    int32_t depth = 0;
    for (ValueCell* cell = context->stack_top; cell; cell = cell->below) ++depth;
    EXPECT_EQ(depth, returns ? 1 : 0);
    return returns && depth ? stack_pop(context)->number : 0;
  }
  double load(const std::vector<uint8_t>& bytes, bool is_module) {
    return call({static_cast<double>(reinterpret_cast<uintptr_t>(bytes.data())), static_cast<double>(bytes.size()),
                 is_module ? 1.0 : 0.0},
                builtin_loadsoundfrommem);
  }
  double load_file(const char* path, double kind) {
    stack_push_value(const_cast<char*>(path), 0, nullptr, 0);
    stack_push_number(context, kind);
    return call({}, builtin_loadsound);
  }
  void play(double handle) { call({handle}, builtin_playsound, false); }
  double get(BuiltinHandler getter, double handle) { return call({handle}, getter); }
  void set(BuiltinHandler setter, double handle, double value) { call({handle, value}, setter, false); }
  // The first sample voice that plays (the tests play one sample at a time there).
  sound::Voice* playing_sample_voice() {
    for (uint32_t i = 0; i < system().sample_voice_count; ++i) {
      if (!system().sample_voices[i].stopped) return &system().sample_voices[i];
    }
    return nullptr;
  }
  size_t voices_playing() {
    size_t count = 0;
    for (uint32_t i = 0; i < system().sample_voice_count; ++i) count += !system().sample_voices[i].stopped;
    for (uint32_t i = 0; i < system().module_player_count; ++i) count += !system().module_players[i].stopped;
    return count;
  }

  std::vector<uint8_t> sample_wav;
  std::vector<uint8_t> song;
};

TEST_F(SoundBuiltins, LoadsGiveSampleHandlesFromZeroAndModuleHandlesFrom1024) {
  std::string path = std::string(ZRK_TEST_BINARY_DIR) + "/builtin_sample.wav";
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(sample_wav.data(), 1, sample_wav.size(), file);
  std::fclose(file);
  std::string missing = std::string(ZRK_TEST_BINARY_DIR) + "/no such sound.wav";

  EXPECT_EQ(load(sample_wav, false), 0);
  EXPECT_EQ(load(song, true), 1024);
  EXPECT_EQ(load_file(path.c_str(), 0), 1);
  EXPECT_EQ(load_file(path.c_str(), 3), 2);

  struct Failure {
    const char* what;
    double handle;
    std::string message;
  };
  unsigned errors = runtime_error_count();
  const Failure failures[] = {
      {"missing file", load_file(missing.c_str(), 0), "Error loading sound " + missing},
      {"a sample loaded as a module", load_file(path.c_str(), 1), "Error loading sound " + path},
      {"a module from memory given as a sample", load(song, false), "Error loading sound from memory"},
      {"a sample from memory given as a module", load(sample_wav, true), "Error loading sound from memory"},
  };
  EXPECT_EQ(runtime_error_count(), errors + 4);
  for (const Failure& row : failures) {
    EXPECT_EQ(row.handle, -1) << row.what;
  }
  EXPECT_EQ(runtime_error_last_text(), failures[3].message);
  EXPECT_EQ(load(sample_wav, false), 3) << "failures take no slot";

  // s_init starts the numbering again.
  call({22050, 16, 0, 1, 8}, builtin_s_init, false);
  EXPECT_EQ(load(sample_wav, false), 0);
  EXPECT_EQ(load(song, true), 1024);
  std::remove(path.c_str());
}

TEST_F(SoundBuiltins, MissingFileNamesItself) {
  unsigned errors = runtime_error_count();
  EXPECT_EQ(load_file("\\nowhere\\boom.wav", 2), -1);
  EXPECT_EQ(runtime_error_count(), errors + 1);
  EXPECT_EQ(std::string(runtime_error_last_text()), "Error loading sound \\nowhere\\boom.wav");
}

TEST_F(SoundBuiltins, SettingsAreKeptPerHandleAndHandedToItsVoice) {
  double handle = load(sample_wav, false);
  ASSERT_EQ(handle, 0);
  set(builtin_setvolume, handle, 300);    // kept without a voice
  set(builtin_setfrequency, handle, 11025);  // needs a voice: not kept
  EXPECT_EQ(get(builtin_volume, handle), 0) << "no voice yet";
  play(handle);
  sound::Voice* voice = playing_sample_voice();
  ASSERT_NE(voice, nullptr);
  EXPECT_EQ(voice->volume, 64u) << "255 plays at 64";
  EXPECT_EQ(get(builtin_volume, handle), 255);
  EXPECT_EQ(get(builtin_frequency, handle), 22050) << "the sample's own rate";
  EXPECT_EQ(get(builtin_soundstate, handle), 1);

  struct Case {
    BuiltinHandler setter, getter;
    double value, stored;
  };
  const Case cases[] = {
      {builtin_setvolume, builtin_volume, -5, 0},
      {builtin_setvolume, builtin_volume, 40, 40},
      {builtin_setfrequency, builtin_frequency, 11025, 11025},
      {builtin_setpan, builtin_pan, 300, 300},  // stored unclamped; the voice caps it
      {builtin_setpan, builtin_pan, 30, 30},
      {builtin_setloop, builtin_loop, 5, 5},
  };
  for (const Case& row : cases) {
    set(row.setter, handle, row.value);
    EXPECT_EQ(get(row.getter, handle), row.stored) << row.value;
  }
  EXPECT_EQ(voice->volume, 40u);
  EXPECT_EQ(voice->get_frequency(), 11025u);
  EXPECT_EQ(voice->get_pan(), 30u);
  EXPECT_EQ(voice->get_loop(), 1);

  call({handle}, builtin_pausesound, false);
  EXPECT_EQ(get(builtin_soundstate, handle), 2);
  call({handle}, builtin_resumesound, false);
  EXPECT_EQ(get(builtin_soundstate, handle), 1);
  call({handle}, builtin_stopsound, false);
  EXPECT_EQ(get(builtin_soundstate, handle), 0);

  // A later play hands the voice what the script set, not the sample's values.
  play(handle);
  sound::Voice* again = playing_sample_voice();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->volume, 40u);
  EXPECT_EQ(again->get_frequency(), 11025u);
  EXPECT_EQ(again->get_pan(), 30u);
}

TEST_F(SoundBuiltins, HandlesWithoutALiveVoiceActOnNone) {
  double sample = load(sample_wav, false);
  double never_played = load(sample_wav, false);
  double unloaded = 7;
  // Every voice busy: the next play is refused and must not take over a voice.
  for (uint32_t i = 0; i < system().sample_voice_count; ++i) play(sample);
  ASSERT_EQ(voices_playing(), system().sample_voice_count);
  play(never_played);
  const double handles[] = {-1, never_played, unloaded, 2047, 2048, -2, 1e9};
  for (double handle : handles) {
    play(handle);
    set(builtin_setpan, handle, 7);
    set(builtin_setfrequency, handle, 8000);
    set(builtin_setloop, handle, 1);
    call({handle}, builtin_pausesound, false);
    EXPECT_EQ(get(builtin_soundstate, handle), 0) << handle;
    for (BuiltinHandler getter : {builtin_volume, builtin_frequency, builtin_pan, builtin_loop}) {
      EXPECT_EQ(get(getter, handle), 0) << handle;
    }
    call({handle}, builtin_stopsound, false);
    call({handle}, builtin_freesound, false);
  }
  for (uint32_t i = 0; i < system().sample_voice_count; ++i) {
    const sound::SampleVoice& voice = system().sample_voices[i];
    EXPECT_FALSE(voice.stopped || voice.paused) << "voice " << i;
    EXPECT_NE(voice.get_pan(), 7u) << "voice " << i;
    EXPECT_NE(voice.get_frequency(), 8000u) << "voice " << i;
  }

  // After s_shut the voices are gone; the handles name none of them, nor of a later init.
  call({}, builtin_s_shut, false);
  set(builtin_setvolume, sample, 10);
  EXPECT_EQ(get(builtin_volume, sample), 0);
  EXPECT_EQ(get(builtin_soundstate, sample), 0);
  call({22050, 16, 0, 1, 8}, builtin_s_init, false);
  set(builtin_setpan, sample, 7);
  EXPECT_EQ(get(builtin_pan, sample), 0);
  EXPECT_EQ(voices_playing(), 0u);
}

TEST_F(SoundBuiltins, FreeingStopsItsVoicesAndKeepsOtherHandles) {
  double first = load(sample_wav, false);
  double second = load(sample_wav, false);
  double song_handle = load(song, true);
  play(first);
  play(first);
  play(second);
  play(song_handle);
  ASSERT_EQ(voices_playing(), 4u);

  call({first}, builtin_freesound, false);
  EXPECT_EQ(voices_playing(), 2u) << "both plays of the freed sample stop";
  EXPECT_EQ(get(builtin_soundstate, second), 1);
  EXPECT_EQ(get(builtin_soundstate, song_handle), 1);

  std::vector<uint8_t> other = wav(11025, 500);
  EXPECT_EQ(load(other, false), first) << "the freed slot is reused";
  EXPECT_EQ(load(other, false), 2) << "then the next free one";
  EXPECT_EQ(get(builtin_soundstate, second), 1) << "later handles keep their numbers";
  call({song_handle}, builtin_freesound, false);
  EXPECT_EQ(system().playing_module_count(), 0u);
  EXPECT_EQ(load(song, true), song_handle);
}

// s_init on a running system forgets the loads, so the next load replaces the asset of
// slot 0; the voice still playing it stops first.
TEST_F(SoundBuiltins, ReloadingASlotStopsTheVoicesPlayingIt) {
  double handle = load(sample_wav, false);
  play(handle);
  ASSERT_EQ(voices_playing(), 1u);
  call({22050, 16, 0, 1, 8}, builtin_s_init, false);
  std::vector<uint8_t> other = wav(22050, 100);
  EXPECT_EQ(load(other, false), 0);
  EXPECT_EQ(voices_playing(), 0u);
}

TEST_F(SoundBuiltins, AnEndedSoundHasStateZero) {
  std::vector<uint8_t> short_sample = wav(22050, 300);
  double handle = load(short_sample, false);
  play(handle);
  EXPECT_EQ(get(builtin_soundstate, handle), 1);
  platform::audio_stepping_complete(1000);
  EXPECT_TRUE(eventually([&] { return voices_playing() == 0; }));
  EXPECT_EQ(get(builtin_soundstate, handle), 0);
}

TEST_F(SoundBuiltins, RegisteredWithTheTablesSettings) {
  register_all_builtins();
  const std::pair<const char*, BuiltinHandler> names[] = {
      {"s_init", builtin_s_init},         {"s_bufferlength", builtin_s_bufferlength},
      {"s_shut", builtin_s_shut},         {"loadsound", builtin_loadsound},
      {"loadsoundfrommem", builtin_loadsoundfrommem}, {"playsound", builtin_playsound},
      {"stopsound", builtin_stopsound},   {"pausesound", builtin_pausesound},
      {"resumesound", builtin_resumesound}, {"freesound", builtin_freesound},
      {"soundstate", builtin_soundstate}, {"volume", builtin_volume},
      {"setvolume", builtin_setvolume},   {"frequency", builtin_frequency},
      {"setfrequency", builtin_setfrequency}, {"pan", builtin_pan},
      {"setpan", builtin_setpan},         {"loop", builtin_loop},
      {"setloop", builtin_setloop},
  };
  for (const auto& [name, handler] : names) {
    std::string upper(name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    int32_t index = find_builtin_by_hash(hash_name_text(upper.c_str()));
    BuiltinEntry* entry = builtin_entry(index);
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_EQ(entry->handler, handler) << name;
    // Called with its table's parameter count, a built-in leaves exactly its result.
    const BuiltinTableRow& row = builtin_table_row(index);
    std::vector<double> arguments(row.param_count, -1);
    if (handler == builtin_s_init) arguments = {22050, 16, 0, 1, 8};
    if (handler == builtin_loadsound || handler == builtin_loadsoundfrommem) arguments.assign(row.param_count, 0);
    call(arguments, handler, row.returns_value != 0);
  }
  builtin_registry_clear();
}

}  // namespace
