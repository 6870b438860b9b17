// FastTracker 2 extended module writer. Layout (all little-endian):
//   file header: "Extended Module: ", name[20], 0x1A, tracker[20], version 0x0104, header size 276,
//     song length, restart, channels, patterns, instruments, flags, tempo, BPM, order table[256]
//   patterns: header size 9, packing type 0, rows, packed size, packed cells
//   instruments: header (263 bytes with samples, 33 without), sample headers (40 bytes each), then
//     every sample's delta-encoded data
#include "xm_writer.h"

#include <algorithm>
#include <cstring>

#include "platform/little_endian.h"

static constexpr uint32_t kFileHeaderSize = 276;      // counted from the size field itself
static constexpr uint32_t kPatternHeaderSize = 9;
static constexpr uint32_t kInstrumentHeaderSize = 263; // what FastTracker 2 writes for an instrument with samples
static constexpr uint32_t kEmptyInstrumentHeaderSize = 33;
static constexpr uint32_t kSampleHeaderSize = 40;
static constexpr int kMaxEnvelopePoints = 12;

static void put8(std::vector<uint8_t>* out, uint32_t value) { out->push_back(uint8_t(value)); }
static void put16(std::vector<uint8_t>* out, uint32_t value) { appendLittleEndian(out, value, 2); }
static void put32(std::vector<uint8_t>* out, uint32_t value) { appendLittleEndian(out, value, 4); }
static void putText(std::vector<uint8_t>* out, const std::string& text, size_t length, char pad) {
  for (size_t i = 0; i < length; ++i) out->push_back(uint8_t(i < text.size() ? text[i] : pad));
}
static void set16(std::vector<uint8_t>* out, size_t at, uint32_t value) { storeLittleEndian(&(*out)[at], value, 2); }

static bool fail(std::string* error, const std::string& reason) {
  if (error) *error = reason;
  return false;
}

static bool checkEnvelope(const XmEnvelope& envelope, const std::string& what, std::string* error) {
  int count = int(envelope.points.size());
  if (count > kMaxEnvelopePoints) return fail(error, what + " has more than 12 points");
  for (int i = 0; i < count; ++i) {
    if (envelope.points[i].value > 64) return fail(error, what + " has a value above 64");
    if (i == 0 && envelope.points[i].tick != 0) return fail(error, what + " does not start at tick 0");
    if (i > 0 && envelope.points[i].tick <= envelope.points[i - 1].tick)
      return fail(error, what + " has ticks that do not increase");
  }
  if (envelope.sustain && envelope.sustain_point >= count)
    return fail(error, what + " has its sustain point past its last point");
  if (envelope.loop && (envelope.loop_start > envelope.loop_end || envelope.loop_end >= count))
    return fail(error, what + " has a loop outside its points");
  return true;
}

static bool checkModule(const XmModule& module, std::string* error) {
  if (module.channels < 2 || module.channels > 32 || module.channels % 2 != 0)
    return fail(error, "the channel count must be even, from 2 to 32");
  if (module.patterns.empty() || module.patterns.size() > 256)
    return fail(error, "a module has 1 to 256 patterns");
  if (module.orders.empty() || module.orders.size() > 256)
    return fail(error, "the order table holds 1 to 256 entries");
  for (uint8_t order : module.orders)
    if (order >= module.patterns.size()) return fail(error, "the order table names a missing pattern");
  if (module.restart_position < 0 || size_t(module.restart_position) >= module.orders.size())
    return fail(error, "the restart position lies outside the order table");
  if (module.tempo < 1 || module.tempo > 31) return fail(error, "the tempo must be 1 to 31 ticks per row");
  if (module.bpm < 32 || module.bpm > 255) return fail(error, "the BPM must be 32 to 255");
  if (module.instruments.size() > 128) return fail(error, "a module has at most 128 instruments");
  for (size_t p = 0; p < module.patterns.size(); ++p) {
    const XmPattern& pattern = module.patterns[p];
    std::string what = "pattern " + std::to_string(p);
    if (pattern.rows < 1 || pattern.rows > 256) return fail(error, what + " must have 1 to 256 rows");
    if (!pattern.cells.empty() && pattern.cells.size() != size_t(pattern.rows) * size_t(module.channels))
      return fail(error, what + " does not hold rows × channels cells");
    for (const XmCell& cell : pattern.cells) {
      if (cell.note > kXmKeyOff) return fail(error, what + " has a note above 97");
      if (cell.instrument > 128) return fail(error, what + " names an instrument above 128");
      if (cell.effect > 35) return fail(error, what + " has an effect above Z");
    }
  }
  for (size_t i = 0; i < module.instruments.size(); ++i) {
    const XmInstrument& instrument = module.instruments[i];
    std::string what = "instrument " + std::to_string(i + 1);
    if (instrument.samples.size() > 16) return fail(error, what + " has more than 16 samples");
    for (uint8_t index : instrument.note_sample)
      if (!instrument.samples.empty() && index >= instrument.samples.size())
        return fail(error, what + " maps a note to a missing sample");
    if (instrument.fadeout > 0xFFF) return fail(error, what + " has a fadeout above 4095");
    if (instrument.vibrato_type > 3) return fail(error, what + " has a vibrato type above 3");
    if (!checkEnvelope(instrument.volume_envelope, what + "'s volume envelope", error)) return false;
    if (!checkEnvelope(instrument.panning_envelope, what + "'s panning envelope", error)) return false;
    for (size_t s = 0; s < instrument.samples.size(); ++s) {
      const XmSample& sample = instrument.samples[s];
      std::string sample_what = what + ", sample " + std::to_string(s);
      if (sample.volume > 64) return fail(error, sample_what + " has a volume above 64");
      if (sample.loop_type > kXmPingPongLoop) return fail(error, sample_what + " has an unknown loop type");
      uint64_t bytes = uint64_t(sample.frames.size()) * (sample.sixteen_bit ? 2 : 1);
      if (bytes > 0x7FFFFFFF) return fail(error, sample_what + " is too long");
      if (sample.loop_type != kXmNoLoop &&
          uint64_t(sample.loop_start) + sample.loop_length > sample.frames.size())
        return fail(error, sample_what + " has its loop past its end");
    }
  }
  return true;
}

static void writeHeader(const XmModule& module, std::vector<uint8_t>* out) {
  putText(out, "Extended Module: ", 17, ' ');
  // Blank-padded as FastTracker 2 pads it: players take a zero byte here for another tracker's file.
  putText(out, module.name, 20, ' ');
  put8(out, 0x1A);
  putText(out, module.tracker_name, 20, ' ');
  put16(out, 0x0104);
  put32(out, kFileHeaderSize);
  put16(out, uint32_t(module.orders.size()));
  put16(out, uint32_t(module.restart_position));
  put16(out, uint32_t(module.channels));
  put16(out, uint32_t(module.patterns.size()));
  put16(out, uint32_t(module.instruments.size()));
  put16(out, module.linear_frequencies ? 1 : 0);
  put16(out, uint32_t(module.tempo));
  put16(out, uint32_t(module.bpm));
  for (size_t i = 0; i < 256; ++i) put8(out, i < module.orders.size() ? module.orders[i] : 0);
}

// A cell with every field present is written as its five bytes; any other starts with a mask byte
// (bit 7 set, bits 0..4 for note, instrument, volume, effect, parameter) followed by the fields present.
static void writeCell(const XmCell& cell, bool packed, std::vector<uint8_t>* out) {
  uint8_t fields[5] = {cell.note, cell.instrument, cell.volume, cell.effect, cell.parameter};
  uint8_t mask = 0;
  for (int i = 0; i < 5; ++i)
    if (fields[i] != 0) mask |= uint8_t(1 << i);
  if (!packed || mask == 0x1F) {
    out->insert(out->end(), fields, fields + 5);
    return;
  }
  put8(out, 0x80u | mask);
  for (int i = 0; i < 5; ++i)
    if (mask & (1 << i)) put8(out, fields[i]);
}

static void writePattern(const XmModule& module, const XmPattern& pattern, std::vector<uint8_t>* out) {
  put32(out, kPatternHeaderSize);
  put8(out, 0);  // packing type: the only one defined
  put16(out, uint32_t(pattern.rows));
  size_t size_at = out->size();
  put16(out, 0);
  size_t data_start = out->size();
  size_t cell_count = size_t(pattern.rows) * size_t(module.channels);
  XmCell empty;
  for (size_t i = 0; i < cell_count; ++i)
    writeCell(pattern.cells.empty() ? empty : pattern.cells[i], module.packed, out);
  // At most 256 rows × 32 channels × 5 bytes = 40960: always fits the 16-bit size.
  set16(out, size_at, uint32_t(out->size() - data_start));
}

static void writeEnvelopePoints(const XmEnvelope& envelope, std::vector<uint8_t>* out) {
  for (int i = 0; i < kMaxEnvelopePoints; ++i) {
    bool used = i < int(envelope.points.size());
    put16(out, used ? envelope.points[i].tick : 0);
    put16(out, used ? envelope.points[i].value : 0);
  }
}

static uint8_t envelopeFlags(const XmEnvelope& envelope) {
  if (envelope.points.empty()) return 0;
  return uint8_t(1 | (envelope.sustain ? 2 : 0) | (envelope.loop ? 4 : 0));
}

static uint8_t sampleHighByte(int16_t value) {
  int rounded = (int(value) + 128) >> 8;
  return uint8_t(int8_t(std::min(rounded, 127)));
}

static void writeSampleHeader(const XmSample& sample, std::vector<uint8_t>* out) {
  uint32_t width = sample.sixteen_bit ? 2 : 1;
  bool looped = sample.loop_type != kXmNoLoop && sample.loop_length > 0;
  put32(out, uint32_t(sample.frames.size()) * width);
  put32(out, looped ? sample.loop_start * width : 0);
  put32(out, looped ? sample.loop_length * width : 0);
  put8(out, sample.volume);
  put8(out, uint8_t(sample.finetune));
  put8(out, uint32_t(looped ? sample.loop_type : kXmNoLoop) | (sample.sixteen_bit ? 0x10 : 0));
  put8(out, sample.panning);
  put8(out, uint8_t(sample.relative_note));
  put8(out, 0);  // delta-encoded, the standard encoding
  putText(out, sample.name, 22, '\0');
}

// Each stored value is the difference from the previous one, wrapping at the stored width.
static void writeSampleData(const XmSample& sample, std::vector<uint8_t>* out) {
  if (sample.sixteen_bit) {
    uint16_t previous = 0;
    for (int16_t frame : sample.frames) {
      uint16_t value = uint16_t(frame);
      put16(out, uint16_t(value - previous));
      previous = value;
    }
  } else {
    uint8_t previous = 0;
    for (int16_t frame : sample.frames) {
      uint8_t value = sampleHighByte(frame);
      put8(out, uint8_t(value - previous));
      previous = value;
    }
  }
}

static void writeInstrument(const XmInstrument& instrument, std::vector<uint8_t>* out) {
  size_t start = out->size();
  bool has_samples = !instrument.samples.empty();
  put32(out, has_samples ? kInstrumentHeaderSize : kEmptyInstrumentHeaderSize);
  putText(out, instrument.name, 22, '\0');
  put8(out, 0);  // instrument type, always 0
  put16(out, uint32_t(instrument.samples.size()));
  put32(out, kSampleHeaderSize);
  if (!has_samples) return;
  out->insert(out->end(), instrument.note_sample, instrument.note_sample + 96);
  writeEnvelopePoints(instrument.volume_envelope, out);
  writeEnvelopePoints(instrument.panning_envelope, out);
  const XmEnvelope& volume = instrument.volume_envelope;
  const XmEnvelope& panning = instrument.panning_envelope;
  put8(out, uint32_t(volume.points.size()));
  put8(out, uint32_t(panning.points.size()));
  put8(out, volume.sustain_point);
  put8(out, volume.loop_start);
  put8(out, volume.loop_end);
  put8(out, panning.sustain_point);
  put8(out, panning.loop_start);
  put8(out, panning.loop_end);
  put8(out, envelopeFlags(volume));
  put8(out, envelopeFlags(panning));
  put8(out, instrument.vibrato_type);
  put8(out, instrument.vibrato_sweep);
  put8(out, instrument.vibrato_depth);
  put8(out, instrument.vibrato_rate);
  put16(out, instrument.fadeout);
  out->resize(start + kInstrumentHeaderSize, 0);  // reserved bytes
  for (const XmSample& sample : instrument.samples) writeSampleHeader(sample, out);
  for (const XmSample& sample : instrument.samples) writeSampleData(sample, out);
}

std::vector<uint8_t> writeXm(const XmModule& module, std::string* error) {
  std::vector<uint8_t> out;
  if (!checkModule(module, error)) return out;
  writeHeader(module, &out);
  for (const XmPattern& pattern : module.patterns) writePattern(module, pattern, &out);
  for (const XmInstrument& instrument : module.instruments) writeInstrument(instrument, &out);
  if (error) error->clear();
  return out;
}
