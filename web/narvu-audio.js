// The music's way to the speaker in the page: an AudioWorklet processor that plays the 16-bit stereo
// frames the show mixes on the main thread (platform/web_sound_output.cpp, through MusicOutput in
// narvu-page.js), at the audio hardware's pace, at the viewer's volume.
//
// Messages in:  {epoch, samples: Int16Array}   frames to play after those it has, of that epoch
//               {epoch}                        a new epoch: what it has goes (the song was moved)
//               {hold: true|false}             the show paused: silence, keeping its place
//               {volume: 0 to 1}               the viewer's volume (0 when muted), from the next frame
//               {end: true}                    the show ended: the processor stops for good
// Messages out: {epoch, played, peak,          frames of the epoch it has gone through; the loudest
//                underruns, missed}            sample it played since the last message (0 to 1, after
//                                              the volume); since it was made, how many times it had
//                                              nothing to play and how many frames it went without
//
// The music keeps its time: frames it had to play and did not have (the main thread was late) are
// counted as played and skipped from what comes next, so the song stays where the show's clock is.
class NarvuMusic extends AudioWorkletProcessor {
  constructor() {
    super();
    this.epoch = 0;
    this.chunks = [];  // Int16Arrays, the first read from `offset` (in samples)
    this.offset = 0;
    this.started = false;  // the epoch's first frames came: from then on every quantum counts
    this.played = 0;
    this.owed = 0;  // frames counted as played that never came in time
    this.held = false;
    this.ended = false;
    this.gain = 1 / 32768;
    this.peak = 0;
    this.underruns = 0;
    this.missed = 0;
    this.quanta = 0;
    this.port.onmessage = (event) => this.take(event.data);
  }

  take(message) {
    if (message.end) {
      this.ended = true;
      return;
    }
    if ('hold' in message) {
      this.held = message.hold;
      return;
    }
    if ('volume' in message) {
      this.gain = Math.min(1, Math.max(0, message.volume)) / 32768;
      return;
    }
    if (message.epoch !== this.epoch) {
      this.epoch = message.epoch;
      this.chunks = [];
      this.offset = 0;
      this.started = false;
      this.played = 0;
      this.owed = 0;
    }
    if (!message.samples) return;
    this.chunks.push(message.samples);
    this.started = true;
    this.skip();
  }

  // Drops what is owed from the front of what has come.
  skip() {
    while (this.owed > 0 && this.chunks.length) {
      const available = (this.chunks[0].length - this.offset) / 2;
      const frames = Math.min(available, this.owed);
      this.offset += 2 * frames;
      this.owed -= frames;
      if (this.offset >= this.chunks[0].length) {
        this.chunks.shift();
        this.offset = 0;
      }
    }
  }

  process(inputs, outputs) {
    if (this.ended) return false;
    const [left, right] = outputs[0];
    const gain = this.gain;
    let frame = 0;
    let peak = this.peak;
    if (this.started && !this.held) {
      while (frame < left.length && this.chunks.length) {
        const chunk = this.chunks[0];
        for (; frame < left.length && this.offset < chunk.length; ++frame, this.offset += 2) {
          left[frame] = chunk[this.offset] * gain;
          right[frame] = chunk[this.offset + 1] * gain;
          peak = Math.max(peak, Math.abs(left[frame]), Math.abs(right[frame]));
        }
        if (this.offset >= chunk.length) {
          this.chunks.shift();
          this.offset = 0;
        }
      }
      if (frame < left.length) {
        this.underruns += 1;
        this.missed += left.length - frame;
      }
      this.owed += left.length - frame;
      this.played += left.length;
    }
    this.peak = peak;
    left.fill(0, frame);
    right.fill(0, frame);
    // About every 23 ms.
    if (++this.quanta % 8 === 0) {
      this.port.postMessage({epoch: this.epoch, played: this.played, peak: this.peak, underruns: this.underruns,
                             missed: this.missed});
      this.peak = 0;
    }
    return true;
  }
}

registerProcessor('narvu-music', NarvuMusic);
