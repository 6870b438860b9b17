// The viewer's keys in live play: Space pauses and resumes picture and music together, Left and Right
// step five seconds back and forth, Home starts the show again; the viewer's controls (the page's bar)
// seek to a moment and pause or play. A capture takes neither and stays exact.
//
// A pause stops the clock itself (pauseClock), so the timeline, the fades and the music all hold where
// they are. A seek puts the timeline where playing to that moment would have put it (replayTimeline)
// and the music at the same moment.
#include <algorithm>

#include "shell/shell.h"

bool viewer_keys_enabled = false;
DWORD song_start_ms = 0;

static const int32_t kStepMs = 5000;
static bool paused = false;
static bool moved_while_paused = false;

bool viewerWantsFrame() {
  if (!paused) return true;
  bool draw = moved_while_paused;
  moved_while_paused = false;
  return draw;
}

static void setPaused(bool pause) {
  paused = pause;
  pauseClock(pause);
  if (!sound_disabled) FMUSIC_SetPaused(song, pause ? 1 : 0);
}

void seekTimeline(int32_t moment_ms) {
  // The last moment of the timeline is the latest a seek goes to: the show then ends as it would.
  if (moment_ms < 0) moment_ms = 0;
  if (moment_ms > int32_t(kShowLengthMs) - 1) moment_ms = int32_t(kShowLengthMs) - 1;
  DWORD now = GetTickCount();
  // The music started a moment before the timeline; it keeps that lead.
  DWORD music_lead = demo_start_ms - song_start_ms;
  replayTimeline(now - DWORD(moment_ms), now);
  moved_while_paused = paused;
  if (!sound_disabled) setSongPosition(song, moment_ms + int32_t(music_lead));
}

bool viewerPaused() { return paused; }

void takeViewerControl(UINT message, WPARAM value) {
  if (message == WM_VIEWER_SEEK)
    seekTimeline(int32_t(std::min<WPARAM>(value, kShowLengthMs)));
  else if (message == WM_VIEWER_PAUSE && (value != 0) != paused)
    setPaused(value != 0);
}

void takeViewerKey(WPARAM key) {
  int32_t moment = int32_t(GetTickCount() - demo_start_ms);
  switch (key) {
    case VK_SPACE: setPaused(!paused); break;
    case VK_LEFT: seekTimeline(moment - kStepMs); break;
    case VK_RIGHT: seekTimeline(moment + kStepMs); break;
    case VK_HOME: seekTimeline(0); break;
    default: break;
  }
}
