// The tune as an XM module.
#include "music.h"
#include "xm_writer.h"

std::vector<uint8_t> moduleBytes(const Tune& tune) {
  XmModule module;
  module.name = "narvu";
  module.channels = tune.channels + (tune.channels % 2);
  module.tempo = tune.speed;
  module.bpm = tune.bpm;
  for (const TunePattern& source : tune.patterns) {
    XmPattern pattern;
    pattern.rows = source.rows;
    pattern.cells.resize(static_cast<size_t>(source.rows) * module.channels);
    for (int row = 0; row < source.rows; ++row) {
      for (int channel = 0; channel < tune.channels; ++channel) {
        const TuneCell& cell = source.cells[static_cast<size_t>(row) * tune.channels + channel];
        XmCell& out = pattern.cells[static_cast<size_t>(row) * module.channels + channel];
        out.note = static_cast<uint8_t>(cell.note);
        out.instrument = static_cast<uint8_t>(cell.instrument);
        if (cell.volume >= 0) out.volume = xmVolume(cell.volume);
      }
    }
    module.patterns.push_back(std::move(pattern));
  }
  for (int p : tune.order) module.orders.push_back(static_cast<uint8_t>(p));
  for (const TuneInstrument& source : tune.instruments) {
    XmInstrument instrument;
    instrument.name = source.name;
    XmSample sample;
    sample.name = source.name;
    sample.frames = source.sample;
    sample.sixteen_bit = true;
    sample.volume = static_cast<uint8_t>(source.volume);
    // The samples are made at 16726 Hz, the rate at which C-5 plays a sample without a relative
    // note: C-5 sounds them as made.
    sample.relative_note = 0;
    if (source.loop_length > 0) {
      sample.loop_type = kXmForwardLoop;
      sample.loop_start = static_cast<uint32_t>(source.loop_start);
      sample.loop_length = static_cast<uint32_t>(source.loop_length);
    }
    instrument.samples.push_back(std::move(sample));
    for (const auto& point : source.envelope) {
      instrument.volume_envelope.points.push_back(
          XmEnvelopePoint{static_cast<uint16_t>(point.first), static_cast<uint16_t>(point.second)});
    }
    if (source.sustain_point >= 0) {
      instrument.volume_envelope.sustain = true;
      instrument.volume_envelope.sustain_point = static_cast<uint8_t>(source.sustain_point);
    }
    instrument.fadeout = static_cast<uint16_t>(source.fadeout);
    module.instruments.push_back(std::move(instrument));
  }
  return writeXm(module);
}
