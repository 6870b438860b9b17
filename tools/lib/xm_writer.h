// Writer of FastTracker 2 extended modules (XM, version 0x0104): records in, file bytes out.
//
// Use: fill an XmModule (header facts, patterns of rows × channels cells, the order table,
// instruments with their samples and envelopes) and call writeXm. Sample data are given as 16-bit
// values whatever the stored depth; the writer converts (8-bit keeps the rounded high byte) and
// delta-encodes them as the format requires. Loop points are in frames, not bytes.
//
// The tracker name defaults to the one FastTracker 2 writes, because players read it to decide which
// tracker's playback rules the module was composed for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t kXmNoNote = 0;
constexpr uint8_t kXmKeyOff = 97;
// Note number of `semitone` (0 = C .. 11 = B) in `octave` (0..7): C-0 is 1, B-7 is 96.
inline uint8_t xmNote(int octave, int semitone) { return uint8_t(octave * 12 + semitone + 1); }
// Volume-column byte that sets the volume 0..64.
inline uint8_t xmVolume(int volume) { return uint8_t(0x10 + volume); }

// Effect numbers of the effect column (0..9 are the digits, A = 10 .. Z = 35).
enum XmEffect : uint8_t {
  kXmArpeggio = 0x0,
  kXmPortaUp = 0x1,
  kXmPortaDown = 0x2,
  kXmTonePorta = 0x3,
  kXmVibrato = 0x4,
  kXmTonePortaVolSlide = 0x5,
  kXmVibratoVolSlide = 0x6,
  kXmTremolo = 0x7,
  kXmSetPanning = 0x8,
  kXmSampleOffset = 0x9,
  kXmVolumeSlide = 0xA,
  kXmPositionJump = 0xB,
  kXmSetVolume = 0xC,
  kXmPatternBreak = 0xD,
  kXmExtended = 0xE,
  kXmSetSpeedTempo = 0xF,  // below 0x20: ticks per row; from 0x20: BPM
  kXmSetGlobalVolume = 16,  // G
  kXmGlobalVolumeSlide = 17,  // H
  kXmKeyOffEffect = 20,  // K
  kXmSetEnvelopePosition = 21,  // L
  kXmPanningSlide = 25,  // P
  kXmRetrigger = 27,  // R
  kXmTremor = 29,  // T
  kXmExtraFinePorta = 33,  // X
};

// One cell of a pattern; zero in a field means "nothing there".
struct XmCell {
  uint8_t note = kXmNoNote;  // 1..96, kXmKeyOff
  uint8_t instrument = 0;    // 1..128
  uint8_t volume = 0;        // volume column byte (xmVolume, or a volume-column effect)
  uint8_t effect = 0;
  uint8_t parameter = 0;
};

struct XmPattern {
  int rows = 64;                // 1..256
  std::vector<XmCell> cells;    // rows × channels, row by row; may be empty (all cells empty)
};

struct XmEnvelopePoint {
  uint16_t tick;   // ticks from the note's start; strictly increasing, the first is 0
  uint16_t value;  // 0..64 (panning: 0..64, 32 is the middle)
};

struct XmEnvelope {
  std::vector<XmEnvelopePoint> points;  // at most 12; the envelope is on when there are points
  bool sustain = false;                 // hold at `sustain_point` until the key is released
  uint8_t sustain_point = 0;
  bool loop = false;                    // loop from `loop_start` to `loop_end` (point indices)
  uint8_t loop_start = 0;
  uint8_t loop_end = 0;
};

enum XmLoopType : uint8_t { kXmNoLoop = 0, kXmForwardLoop = 1, kXmPingPongLoop = 2 };

struct XmSample {
  std::string name;             // at most 22 characters are kept
  std::vector<int16_t> frames;  // mono, full 16-bit scale
  bool sixteen_bit = false;     // stored depth
  XmLoopType loop_type = kXmNoLoop;
  uint32_t loop_start = 0;      // frames
  uint32_t loop_length = 0;     // frames; 0 with a loop type means no loop
  uint8_t volume = 64;          // 0..64
  int8_t finetune = 0;          // 1/128 of a semitone
  uint8_t panning = 128;        // 0 (left) .. 255 (right)
  int8_t relative_note = 0;     // semitones added to the played note (0: C-4 plays the sample's rate 8363 Hz)
};

struct XmInstrument {
  std::string name;                  // at most 22 characters are kept
  std::vector<XmSample> samples;     // at most 16
  uint8_t note_sample[96] = {};      // the sample played for each note, index into `samples`
  XmEnvelope volume_envelope;
  XmEnvelope panning_envelope;
  uint16_t fadeout = 0;              // volume decrease per tick after key off (0..4095; 32768 = full)
  uint8_t vibrato_type = 0;          // 0 sine, 1 square, 2 ramp down, 3 ramp up
  uint8_t vibrato_sweep = 0;
  uint8_t vibrato_depth = 0;
  uint8_t vibrato_rate = 0;
};

struct XmModule {
  std::string name;                               // at most 20 characters are kept
  std::string tracker_name = "FastTracker v2.00";  // at most 20 characters, blank-padded
  int channels = 8;                               // 2..32, even (as FastTracker 2 allows)
  std::vector<XmPattern> patterns;                // 1..256
  std::vector<uint8_t> orders;                    // 1..256 pattern indices
  int restart_position = 0;                       // order to continue from after the last
  bool linear_frequencies = true;                 // false: Amiga period table
  int tempo = 6;                                  // ticks per row, 1..31
  int bpm = 125;                                  // 32..255
  std::vector<XmInstrument> instruments;          // 0..128
  bool packed = true;                             // false: every cell written in full (5 bytes)
};

// The module's bytes, or an empty vector when a record breaks the format's limits (the reason in
// *error when given).
std::vector<uint8_t> writeXm(const XmModule& module, std::string* error = nullptr);
