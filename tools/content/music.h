// The tune: text patterns compiled into a module description, and the instruments' samples
// synthesised in code.
#pragma once

#include <string>
#include <vector>

#include "content_model.h"

struct TuneInstrument {
  std::string name;
  int volume;  // 0..64
  std::vector<std::pair<int, int>> envelope;  // (tick, level 0..64)
  int sustain_point;  // -1: none
  int fadeout;
  std::vector<int16_t> sample;
  int loop_start, loop_length;  // loop_length 0: no loop
};

// One cell of a pattern: note 0 none, 1..96 (C-0 = 1), 97 key off; instrument 1-based, 0 none;
// volume -1 none, else 0..64.
struct TuneCell {
  int note;
  int instrument;
  int volume;
};

struct TunePattern {
  std::string name;
  int rows;
  std::vector<TuneCell> cells;  // rows x channels, row by row
};

struct Tune {
  int speed, bpm, channels;
  std::vector<TuneInstrument> instruments;
  std::vector<TunePattern> patterns;
  std::vector<int> order;
};

// Parses the tune text; false with a message (naming the line) on a fault.
bool parseTune(const std::string& text, Tune* tune, std::string* error);
// The samples of the named instruments (kick, snare, hat, ohat, bass, pad, lead, pluck, crash);
// false for an unknown name.
bool synthesiseSample(TuneInstrument* instrument);
// Seconds the order list lasts.
double tuneSeconds(const Tune& tune);
