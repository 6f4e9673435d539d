// The sound built-ins over the one sound system and the two asset arrays, with the table
// of handles that remembers each handle's voice and the settings to give it.
#include "sound/sound_builtins.h"

#include <array>
#include <cstring>

#include "foundation/conversion.h"
#include "foundation/machine_state.h"
#include "foundation/numbers.h"
#include "foundation/runtime_error.h"
#include "foundation/value_stack.h"
#include "platform/kernel/memory.h"
#include "sound/sound.h"
#include "vm/builtin_registry.h"

namespace {

using sound::SoundSystem;
using sound::Voice;

// The asset slots are made on first use and never destroyed, so no voice can outlive the
// data it reads, and a run that loads no sound neither builds nor tears down a thousand
// empty slots of each kind (tearing them down at exit wrote to every page of them).
struct SoundAssets {
  sound::MusicModule music_modules[kSoundAssetSlots];
  sound::SoundSample sound_samples[kSoundAssetSlots];
};

SoundAssets& sound_assets() {
  static SoundAssets* assets = new SoundAssets;
  return *assets;
}

sound::MusicModule& music_module(int32_t slot) { return sound_assets().music_modules[slot]; }
sound::SoundSample& sound_sample(int32_t slot) { return sound_assets().sound_samples[slot]; }

SoundSystem sound_system;

enum HandleState : uint16_t { kStopped = 0, kPlaying = 1, kPaused = 2 };

// -1 in a setting: not set yet; the first play takes the voice's own value.
struct SoundHandleEntry {
  int32_t voice;  // the id the last play gave, -1 for none
  int32_t volume;
  int32_t frequency;
  int32_t pan;
  int32_t loop;
  uint16_t state;
};
constexpr SoundHandleEntry kFreshEntry{-1, -1, -1, -1, -1, kStopped};

std::array<SoundHandleEntry, kSoundHandleCount> make_table() {
  std::array<SoundHandleEntry, kSoundHandleCount> table;
  table.fill(kFreshEntry);
  return table;
}
std::array<SoundHandleEntry, kSoundHandleCount> handle_table = make_table();

// Which asset slots hold a loaded asset. A load takes the lowest free slot, so a freed
// handle is reused while the handles after it keep their numbers.
bool sample_in_use[kSoundAssetSlots];
bool module_in_use[kSoundAssetSlots];

bool is_module_handle(int32_t handle) { return handle >= kSoundAssetSlots; }

SoundHandleEntry* entry_of(int32_t handle) {
  if (handle < 0 || handle >= kSoundHandleCount) return nullptr;
  return &handle_table[static_cast<size_t>(handle)];
}

// The voice the entry's last play started; none for a failed play, or after s_shut.
Voice* voice_of(const SoundHandleEntry* entry) {
  return entry ? sound_system.voice_lookup(entry->voice) : nullptr;
}

// A number argument: a text is read as a number; truncated toward zero.
int32_t pop_integer() {
  ValueCell* cell = stack_pop(current_program);
  if (cell->text && !(cell->flags & (kCellWideText | kCellList))) {
    return truncate_to_int(text_to_number(static_cast<const char*>(cell->text)));
  }
  return truncate_to_int(cell->number);
}

void push_result(double value) { stack_push_number(current_program, value); }

// Handles the voice operations of the script thread, under the device lock the output
// thread mixes under.
template <typename Operation>
void with_voice(SoundHandleEntry* entry, Operation operation) {
  sound_system.lock();
  if (Voice* voice = voice_of(entry)) operation(*voice);
  sound_system.unlock();
}

int32_t lowest_free_slot(const bool* in_use) {
  for (int32_t slot = 0; slot < kSoundAssetSlots; ++slot) {
    if (!in_use[slot]) return slot;
  }
  return -1;
}

// Records a successful load into slot and gives its handle.
int32_t take_slot(bool module, int32_t slot) {
  (module ? module_in_use : sample_in_use)[slot] = true;
  int32_t handle = module ? kSoundAssetSlots + slot : slot;
  handle_table[static_cast<size_t>(handle)] = kFreshEntry;
  return handle;
}

// Loads into the lowest free slot of the kind. No voice may read an asset while it is
// replaced: those still playing the slot's old contents stop first.
template <typename Load>
int32_t load_asset(bool module, Load load) {
  int32_t slot = lowest_free_slot(module ? module_in_use : sample_in_use);
  if (slot < 0) return -1;
  int32_t result;
  if (module) {
    sound_system.stop_voices_of(&music_module(slot));
    result = load(&music_module(slot), nullptr);
  } else {
    sound_system.stop_voices_of(&sound_sample(slot));
    result = load(nullptr, &sound_sample(slot));
  }
  return result == sound::sound_ok ? take_slot(module, slot) : -1;
}

// Gets one setting of a handle that has a voice; 0 otherwise.
void push_setting(int32_t SoundHandleEntry::*setting) {
  SoundHandleEntry* entry = entry_of(pop_integer());
  push_result(entry && voice_of(entry) ? entry->*setting : 0);
}

}  // namespace

SoundSystem& runtime_sound_system() { return sound_system; }

void builtin_s_init() {
  uint32_t voices = static_cast<uint32_t>(pop_integer());
  uint32_t modules = static_cast<uint32_t>(pop_integer());
  int32_t stereo = pop_integer();
  uint32_t bits = static_cast<uint32_t>(pop_integer());
  uint32_t rate = static_cast<uint32_t>(pop_integer());
  sound_system.init(rate, bits, stereo != 0 ? 1 : 0, modules, voices);
  for (SoundHandleEntry& entry : handle_table) entry.voice = -1;
  std::memset(sample_in_use, 0, sizeof sample_in_use);
  std::memset(module_in_use, 0, sizeof module_in_use);
}

void builtin_s_bufferlength() { sound_system.set_buffer_length(static_cast<uint32_t>(pop_integer())); }

void builtin_s_shut() {
  for (SoundHandleEntry& entry : handle_table) {
    if (entry.voice == -1) continue;
    with_voice(&entry, [](Voice& voice) { voice.stop(); });
    entry.state = kStopped;
    // The voices are destroyed below: an id kept here would name a voice of the next init.
    entry.voice = -1;
  }
  sound_system.shutdown();
}

void builtin_loadsound() {
  int32_t kind = pop_integer();
  ValueCell* name_cell = stack_pop(current_program);
  WCHAR* path = cell_wide_copy(name_cell);
  char* name = to_narrow(path);
  int32_t handle = -1;
  if (path) {
    bool module = !(kind == 0 || kind == 2 || kind == 3);
    uint32_t flags = kind == 2 ? sound::load_decode_whole : kind == 3 ? sound::load_copy : 0;
    handle = load_asset(module, [&](sound::MusicModule* song, sound::SoundSample* sample) {
      return song ? song->load_file(path) : sample->load_file(path, flags);
    });
  }
  if (handle < 0) runtime_error("Error loading sound %s", name ? name : "");
  crt::free(name);
  crt::free(path);
  push_result(handle);
}

void builtin_loadsoundfrommem() {
  int32_t is_module = pop_integer();
  uint32_t size = static_cast<uint32_t>(pop_integer());
  const void* block = platform::pointer_from(static_cast<uint32_t>(stack_pop_int(current_program)));
  int32_t handle = load_asset(is_module != 0, [&](sound::MusicModule* song, sound::SoundSample* sample) {
    return song ? song->load_memory(block, size, 1) : sample->load_memory(block, size, sound::load_copy);
  });
  if (handle < 0) runtime_error("Error loading sound from memory");
  push_result(handle);
}

void builtin_playsound() {
  int32_t handle = pop_integer();
  SoundHandleEntry* entry = entry_of(handle);
  if (!entry) return;
  size_t slot = static_cast<size_t>(handle % kSoundAssetSlots);
  int32_t id = is_module_handle(handle) ? sound_system.play_module(&music_module(slot), sound::play_any_voice)
                                        : sound_system.play_sample(&sound_sample(slot), sound::play_any_voice);
  // A refused play (no free voice, nothing loaded) leaves the handle without a voice, so
  // its settings reach no other handle's voice.
  entry->voice = id >= 0 ? id : -1;
  with_voice(entry, [entry](Voice& voice) {
    if (entry->volume == -1) entry->volume = static_cast<int32_t>(voice.get_effective_volume());
    if (entry->frequency == -1) entry->frequency = static_cast<int32_t>(voice.get_frequency());
    if (entry->pan == -1) entry->pan = static_cast<int32_t>(voice.get_pan());
    if (entry->loop == -1) entry->loop = voice.get_loop();
    voice.set_volume(static_cast<uint32_t>(entry->volume));
    voice.set_frequency(static_cast<uint32_t>(entry->frequency));
    voice.set_pan(static_cast<uint32_t>(entry->pan));
    voice.set_loop(entry->loop != 0);
    entry->state = kPlaying;
  });
}

void builtin_stopsound() {
  SoundHandleEntry* entry = entry_of(pop_integer());
  if (!entry) return;
  with_voice(entry, [](Voice& voice) { voice.stop(); });
  entry->state = kStopped;
}

void builtin_pausesound() {
  SoundHandleEntry* entry = entry_of(pop_integer());
  if (!entry) return;
  with_voice(entry, [](Voice& voice) { voice.pause_voice(); });
  entry->state = kPaused;
}

void builtin_resumesound() {
  SoundHandleEntry* entry = entry_of(pop_integer());
  if (!entry) return;
  with_voice(entry, [](Voice& voice) { voice.resume_voice(); });
  entry->state = kPlaying;
}

// The handle's voice and every other voice still reading its asset stop before the asset
// is freed; the slot is then free for the next load, and no other handle moves.
void builtin_freesound() {
  int32_t handle = pop_integer();
  SoundHandleEntry* entry = entry_of(handle);
  if (!entry) return;
  with_voice(entry, [](Voice& voice) { voice.stop(); });
  int32_t slot = handle % kSoundAssetSlots;
  if (is_module_handle(handle)) {
    sound_system.stop_voices_of(&music_module(slot));
    music_module(slot).unload();
    module_in_use[slot] = false;
  } else {
    sound_system.stop_voices_of(&sound_sample(slot));
    sound_sample(slot).unload();
    sample_in_use[slot] = false;
  }
  *entry = kFreshEntry;
}

void builtin_soundstate() {
  SoundHandleEntry* entry = entry_of(pop_integer());
  int32_t state = 0;
  with_voice(entry, [&](Voice& voice) {
    if (voice.is_playing()) {
      state = kPlaying;
    } else if (entry->state == kPaused) {
      state = kPaused;
    }
  });
  push_result(state);
}

void builtin_volume() { push_setting(&SoundHandleEntry::volume); }
void builtin_frequency() { push_setting(&SoundHandleEntry::frequency); }
void builtin_pan() { push_setting(&SoundHandleEntry::pan); }
void builtin_loop() { push_setting(&SoundHandleEntry::loop); }

// A volume is kept without a voice too: the next play hands it over.
void builtin_setvolume() {
  int32_t volume = pop_integer();
  SoundHandleEntry* entry = entry_of(pop_integer());
  if (!entry) return;
  volume = volume < 0 ? 0 : volume > 255 ? 255 : volume;
  with_voice(entry, [volume](Voice& voice) { voice.set_volume(static_cast<uint32_t>(volume)); });
  entry->volume = volume;
}

void builtin_setfrequency() {
  int32_t hertz = pop_integer();
  SoundHandleEntry* entry = entry_of(pop_integer());
  with_voice(entry, [&](Voice& voice) {
    voice.set_frequency(static_cast<uint32_t>(hertz));
    entry->frequency = hertz;
  });
}

void builtin_setpan() {
  int32_t pan = pop_integer();
  SoundHandleEntry* entry = entry_of(pop_integer());
  with_voice(entry, [&](Voice& voice) {
    voice.set_pan(static_cast<uint32_t>(pan));
    entry->pan = pan;
  });
}

void builtin_setloop() {
  int32_t loop = pop_integer();
  SoundHandleEntry* entry = entry_of(pop_integer());
  with_voice(entry, [&](Voice& voice) {
    voice.set_loop(loop != 0);
    entry->loop = loop;
  });
}

void register_sound_builtins() {
  builtin_register("s_init", builtin_s_init);
  builtin_register("s_bufferlength", builtin_s_bufferlength);
  builtin_register("s_shut", builtin_s_shut);
  builtin_register("loadsound", builtin_loadsound);
  builtin_register("loadsoundfrommem", builtin_loadsoundfrommem);
  builtin_register("playsound", builtin_playsound);
  builtin_register("stopsound", builtin_stopsound);
  builtin_register("pausesound", builtin_pausesound);
  builtin_register("resumesound", builtin_resumesound);
  builtin_register("freesound", builtin_freesound);
  builtin_register("soundstate", builtin_soundstate);
  builtin_register("volume", builtin_volume);
  builtin_register("setvolume", builtin_setvolume);
  builtin_register("frequency", builtin_frequency);
  builtin_register("setfrequency", builtin_setfrequency);
  builtin_register("pan", builtin_pan);
  builtin_register("setpan", builtin_setpan);
  builtin_register("loop", builtin_loop);
  builtin_register("setloop", builtin_setloop);
}
