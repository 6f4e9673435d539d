// The sound library's public interface.
#pragma once

#include "sound/module_player.h"
#include "sound/music_module.h"
#include "sound/ogg_decoder.h"
#include "sound/sample_voice.h"
#include "sound/sound_codes.h"
#include "sound/sound_sample.h"
#include "sound/sound_system.h"
#include "sound/sound_tables.h"
#include "sound/streams.h"
