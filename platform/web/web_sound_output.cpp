// The sound output in the page: an AudioWorklet (web/narvu-audio.js) that plays what the mixer renders
// on the main thread, reached through Module.narvuAudio, which the page made at the viewer's click
// (browsers start sound only then). See "The sound output" in platform/backend.h.
//
// The worklet plays its queue at the sound card's pace. After every turn of the browser the queue is
// topped up to kAhead frames ahead of what it has played: enough for the longest gap between turns,
// which on a software rasteriser under load is the show's first frames (at 186 ms ahead the music
// starved for a second and more at the start). A lead that long costs no delay: a pause holds the
// worklet, a seek drops what it has, and the volume is applied as it plays. The worklet keeps the music
// on time whatever the queue: what it could not play for want of frames it skips when they arrive, so a
// late turn costs a moment of silence, never a lag behind the picture.
#include <emscripten.h>

#include <vector>

#include "platform/web/web_local.h"

static const int kAhead = 44100;  // a second

struct PageSoundOutput {
  bool open = false;
  SoundMixer mix = nullptr;
  std::vector<int16_t> buffer;
};
static PageSoundOutput output;

EM_JS(int, pageSoundOpen, (int rate), { return Module.narvuAudio ? Module.narvuAudio.open(rate) : 0; });
EM_JS(int, pageSoundQueued, (), { return Module.narvuAudio.queued(); });
// A copy of the frames goes to the worklet (posting hands its buffer over): the one allocation of a feed.
EM_JS(void, pageSoundPlay, (const int16_t* samples, int frames), {
  Module.narvuAudio.play(HEAP16.slice(samples >> 1, (samples >> 1) + 2 * frames));
});
EM_JS(void, pageSoundDrop, (), { Module.narvuAudio.drop(); });
EM_JS(void, pageSoundHold, (int held), { Module.narvuAudio.hold(held != 0); });
EM_JS(void, pageSoundSuspend, (int suspended), { Module.narvuAudio.suspend(suspended != 0); });
EM_JS(void, pageSoundClose, (), { Module.narvuAudio.close(); });

bool openSoundOutput(int rate, SoundMixer mix, std::string* reason) {
  if (!pageSoundOpen(rate)) {
    *reason = "the page's sound did not start";
    return false;
  }
  output.open = true;
  output.mix = mix;
  return true;
}

void closeSoundOutput() {
  pageSoundClose();
  output.open = false;
}

// The mixer runs on the main thread, as everything else here.
void lockSoundOutput() {}
void unlockSoundOutput() {}

void feedSoundOutput() {
  if (!output.open) return;
  int queued = pageSoundQueued();
  if (queued >= kAhead) return;
  size_t frames = size_t(kAhead - queued);
  output.buffer.resize(2 * frames);
  output.mix(output.buffer.data(), frames);
  pageSoundPlay(output.buffer.data(), int(frames));
}

// The new place is heard at once: the queue goes, and the worklet gets the song from there now rather
// than at the next turn.
void soundOutputMoved() {
  if (!output.open) return;
  pageSoundDrop();
  feedSoundOutput();
}

void pauseSoundOutput(bool paused) {
  if (output.open) pageSoundHold(paused);
}

void suspendSoundOutput(bool suspended) {
  if (output.open) pageSoundSuspend(suspended);
}
