// libxmp as an independent player of modules: its ticks, one frame info each.
#pragma once

#ifdef ZRK_HAVE_LIBXMP
#include <xmp.h>

// Loads a module with load (a call on the context giving 0 on success) and plays it in
// ProTracker mode at 44.1 kHz, handing each tick to on_tick until the song ends or
// loops, or on_tick answers false. False when the module did not load.
template <typename Load, typename OnTick>
bool xmp_play_ticks(Load load, OnTick on_tick) {
    xmp_context context = xmp_create_context();
    bool loaded = load(context) == 0;
    if (loaded) {
        xmp_start_player(context, 44100, 0);
        xmp_set_player(context, XMP_PLAYER_MODE, XMP_MODE_PROTRACKER);
        xmp_frame_info info;
        while (xmp_play_frame(context) == 0) {
            xmp_get_frame_info(context, &info);
            if (info.loop_count > 0 || !on_tick(info)) break;
        }
        xmp_end_player(context);
        xmp_release_module(context);
    }
    xmp_free_context(context);
    return loaded;
}
#endif
