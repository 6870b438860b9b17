// The tune compiler and the sample synthesiser.
#include "music.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

#include "noise.h"

namespace {

// Samples play at their own rate on C-5 (16726 Hz); tonal waveforms repeat every 32 samples there,
// which is C-5 within two cents, so every note lands in tune.
const double kRate = 16726.0;
const double kPi = 3.14159265358979;

struct NoiseSource {
  uint32_t state;
};
double noise(NoiseSource* n) {
  n->state = n->state * 1664525u + 1013904223u;
  return static_cast<double>(n->state >> 8) / 8388608.0 - 1.0;
}

std::vector<int16_t> toSamples(const std::vector<double>& wave, double gain) {
  std::vector<int16_t> out(wave.size());
  for (size_t i = 0; i < wave.size(); ++i) {
    double v = std::tanh(wave[i] * gain) * 32000.0;
    out[i] = static_cast<int16_t>(std::lround(v));
  }
  return out;
}

// A band-limited sawtooth with `cycles` periods over `length` samples.
double saw(double phase, int harmonics) {
  double v = 0;
  for (int h = 1; h <= harmonics; ++h) v += std::sin(2 * kPi * h * phase) / h;
  return v * 0.55;
}

std::vector<double> loopedSaws(int length, const std::vector<int>& cycles, int harmonics) {
  std::vector<double> wave(length);
  for (int i = 0; i < length; ++i) {
    double v = 0;
    for (int c : cycles) v += saw(static_cast<double>(i) * c / length, harmonics);
    wave[i] = v / cycles.size();
  }
  return wave;
}

}  // namespace

bool synthesiseSample(TuneInstrument* instrument) {
  const std::string& name = instrument->name;
  std::vector<double> wave;
  NoiseSource n{static_cast<uint32_t>(name.size() * 7919 + name[0])};
  instrument->loop_start = 0;
  instrument->loop_length = 0;
  double gain = 1.0;
  if (name == "kick") {
    int length = static_cast<int>(kRate * 0.45);
    double phase = 0;
    for (int i = 0; i < length; ++i) {
      double t = i / kRate;
      double f = 44 + 130 * std::exp(-t * 28);
      phase += f / kRate;
      double body = std::sin(2 * kPi * phase) * std::exp(-t * 7);
      double click = noise(&n) * std::exp(-t * 400) * 0.5;
      wave.push_back(body + click);
    }
    gain = 1.6;
  } else if (name == "snare") {
    int length = static_cast<int>(kRate * 0.3);
    double low = 0;
    for (int i = 0; i < length; ++i) {
      double t = i / kRate;
      double tone = std::sin(2 * kPi * 185 * t) * std::exp(-t * 30) * 0.6;
      double r = noise(&n);
      low += (r - low) * 0.55;
      wave.push_back(tone + low * std::exp(-t * 14) * 0.9);
    }
    gain = 1.4;
  } else if (name == "hat" || name == "ohat") {
    double decay = name == "hat" ? 60 : 11;
    int length = static_cast<int>(kRate * (name == "hat" ? 0.09 : 0.4));
    double previous = 0;
    for (int i = 0; i < length; ++i) {
      double t = i / kRate;
      double r = noise(&n);
      wave.push_back((r - previous) * 0.6 * std::exp(-t * decay));
      previous = r;
    }
  } else if (name == "crash") {
    int length = static_cast<int>(kRate * 1.8);
    double previous = 0, band = 0;
    for (int i = 0; i < length; ++i) {
      double t = i / kRate;
      double r = noise(&n);
      band += ((r - previous) - band) * 0.7;
      previous = r;
      wave.push_back(band * std::exp(-t * 2.2) * 0.9);
    }
  } else if (name == "pluck") {
    int length = static_cast<int>(kRate * 0.6);
    for (int i = 0; i < length; ++i) {
      double t = i / kRate, phase = i / 32.0;
      double bright = std::exp(-t * 9);
      double v = std::sin(2 * kPi * phase) + bright * 0.5 * saw(phase, 8) + 0.2 * std::sin(4 * kPi * phase);
      wave.push_back(v * std::exp(-t * 5) * 0.7);
    }
  } else if (name == "bass") {
    // 64 periods looped: a soft saw over a sine of the same pitch.
    const int length = 32 * 64;
    for (int i = 0; i < length; ++i) {
      double phase = i / 32.0;
      wave.push_back(0.7 * saw(phase, 6) + 0.6 * std::sin(2 * kPi * phase));
    }
    instrument->loop_length = length;
    gain = 1.2;
  } else if (name == "pad") {
    // Three saws of 256, 257 and 255 periods over the loop: a slow chorus that loops cleanly.
    const int length = 32 * 256;
    wave = loopedSaws(length, {256, 257, 255}, 7);
    instrument->loop_length = length;
  } else if (name == "lead") {
    const int length = 32 * 128;
    for (int i = 0; i < length; ++i) {
      double a = static_cast<double>(i) * 128 / length, b = static_cast<double>(i) * 129 / length;
      double pulse = 0;
      for (int h = 1; h <= 9; h += 2) pulse += std::sin(2 * kPi * h * a) / h;
      wave.push_back(0.45 * pulse + 0.45 * saw(b, 6));
    }
    instrument->loop_length = length;
  } else {
    return false;
  }
  instrument->sample = toSamples(wave, gain);
  return true;
}

namespace {

bool parseNote(const std::string& token, int* note) {
  static const char* const kNames[] = {"C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"};
  if (token.size() != 3 || token[2] < '0' || token[2] > '7') return false;
  for (int k = 0; k < 12; ++k) {
    if (token.compare(0, 2, kNames[k]) == 0) {
      *note = (token[2] - '0') * 12 + k + 1;
      return true;
    }
  }
  return false;
}

}  // namespace

bool parseTune(const std::string& text, Tune* tune, std::string* error) {
  *tune = Tune{6, 125, 0, {}, {}, {}};
  std::map<std::string, int> channel_index, instrument_index, pattern_index;
  std::map<std::string, std::vector<TuneCell>> tracks;
  std::istringstream lines(text);
  std::string line;
  int line_number = 0;
  std::string current_track;
  TunePattern* current_pattern = nullptr;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(line_number) + ": " + why;
    return false;
  };
  while (std::getline(lines, line)) {
    ++line_number;
    // '#' opens a comment at the start of a word only: sharps ("C#5") are notes.
    for (size_t k = 0; k < line.size(); ++k) {
      if (line[k] == '#' && (k == 0 || line[k - 1] == ' ' || line[k - 1] == '\t')) {
        line.erase(k);
        break;
      }
    }
    std::istringstream words(line);
    std::string word;
    if (!(words >> word)) continue;
    bool indented = !line.empty() && (line[0] == ' ' || line[0] == '\t');
    if (indented && !current_track.empty()) {
      std::vector<TuneCell>& cells = tracks[current_track];
      do {
        TuneCell cell{0, 0, -1};
        std::string token = word, volume;
        size_t colon = token.find(':');
        if (colon != std::string::npos) {
          volume = token.substr(colon + 1);
          token.erase(colon);
        }
        if (token.compare(0, 2, ".*") == 0) {
          int count = std::atoi(token.c_str() + 2);
          if (count <= 0 || count > 256) return fail("bad repeat " + word);
          cells.insert(cells.end(), count, cell);
          continue;
        }
        if (token == "x") {
          cell.note = 5 * 12 + 1;
        } else if (token == "off") {
          cell.note = 97;
        } else if (token != "." && !parseNote(token, &cell.note)) {
          return fail("bad token " + word);
        }
        if (!volume.empty()) {
          cell.volume = std::atoi(volume.c_str());
          if (cell.volume < 0 || cell.volume > 64) return fail("bad volume " + word);
        }
        cells.push_back(cell);
      } while (words >> word);
      continue;
    }
    if (indented && current_pattern) {
      std::string instrument, track;
      int transpose = 0;
      if (!(words >> instrument >> track)) return fail("pattern line needs CHANNEL INSTRUMENT TRACK");
      words >> transpose;
      if (!channel_index.count(word)) return fail("unknown channel " + word);
      if (!instrument_index.count(instrument)) return fail("unknown instrument " + instrument);
      if (!tracks.count(track) || tracks[track].empty()) return fail("unknown track " + track);
      const std::vector<TuneCell>& cells = tracks[track];
      int channel = channel_index[word];
      for (int row = 0; row < current_pattern->rows; ++row) {
        TuneCell cell = cells[row % cells.size()];
        if (cell.note >= 1 && cell.note <= 96) {
          cell.note += transpose;
          if (cell.note < 1 || cell.note > 96) return fail("transposed note out of range");
          cell.instrument = instrument_index[instrument] + 1;
        }
        current_pattern->cells[row * tune->channels + channel] = cell;
      }
      continue;
    }
    current_track.clear();
    current_pattern = nullptr;
    if (word == "speed") {
      words >> tune->speed;
    } else if (word == "bpm") {
      words >> tune->bpm;
    } else if (word == "channels") {
      std::string name;
      while (words >> name) channel_index[name] = tune->channels++;
    } else if (word == "instrument") {
      TuneInstrument instrument{};
      instrument.sustain_point = -1;
      std::string key;
      if (!(words >> instrument.name >> instrument.volume)) return fail("instrument needs NAME VOLUME");
      while (words >> key) {
        if (key == "envelope") continue;
        size_t colon = key.find(':');
        if (colon != std::string::npos) {
          instrument.envelope.push_back({std::atoi(key.c_str()), std::atoi(key.c_str() + colon + 1)});
        } else if (key == "sustain") {
          words >> instrument.sustain_point;
        } else if (key == "fadeout") {
          words >> instrument.fadeout;
        } else {
          return fail("unknown instrument setting " + key);
        }
      }
      if (!synthesiseSample(&instrument)) return fail("no synthesiser for instrument " + instrument.name);
      instrument_index[instrument.name] = static_cast<int>(tune->instruments.size());
      tune->instruments.push_back(std::move(instrument));
    } else if (word == "track") {
      if (!(words >> current_track)) return fail("track needs a name");
      tracks[current_track].clear();
    } else if (word == "pattern") {
      TunePattern pattern;
      if (!(words >> pattern.name >> pattern.rows) || pattern.rows < 1 || pattern.rows > 256)
        return fail("pattern needs NAME ROWS (1..256)");
      if (tune->channels == 0) return fail("channels must come before the patterns");
      pattern.cells.assign(static_cast<size_t>(pattern.rows) * tune->channels, TuneCell{0, 0, -1});
      pattern_index[pattern.name] = static_cast<int>(tune->patterns.size());
      tune->patterns.push_back(std::move(pattern));
      current_pattern = &tune->patterns.back();
    } else if (word == "order") {
      std::string name;
      while (words >> name) {
        if (!pattern_index.count(name)) return fail("unknown pattern " + name);
        tune->order.push_back(pattern_index[name]);
      }
    } else {
      return fail("unknown word " + word);
    }
  }
  if (tune->order.empty()) return fail("no order");
  return true;
}

double tuneSeconds(const Tune& tune) {
  int rows = 0;
  for (int p : tune.order) rows += tune.patterns[p].rows;
  return rows * tune.speed * 2.5 / tune.bpm;
}
