// The page around the show: it downloads the show (narvu.wasm) and its pack (narvu.dat) with their
// progress, starts the show at the viewer's click (browsers allow sound and full screen only after
// one), passes it the words of the address's query string as its arguments, gives it its music's way
// to the speaker, and shows an end panel with "Play again" when the show ends.
//
//   index.html?nosound&--timedemo                           narvu nosound --timedemo
//   index.html?--capture=cap&--fps=25&--from=15&--to=17     narvu --capture cap --fps 25 --from 15 --to 17
//
// For scripts, the page sets the global `narvu`:
//   narvu.FS        the show's file system (where an in-page capture leaves its PNG frames and audio.wav)
//   narvu.done      a promise of the show's exit code (a new one at every start)
//   narvu.sound     the music as the worklet reports it: frames played since the song was started or
//                   moved, the loudest sample lately (0 to 1), and frames mixed ahead of what it played
//   narvu.times     milliseconds since the page began loading: downloaded, started, firstFrame
'use strict';

(() => {
  const element = (id) => document.getElementById(id);
  const narvu = (window.narvu = {FS: null, done: null, sound: {played: 0, peak: 0, queued: 0}, times: {}});
  const files = {wasm: null, pack: null};
  let soundContext = null;  // made at the first click, kept for every later start
  let running = null;       // the show running now: {music, finished}

  // ---- Arguments -------------------------------------------------------------------------------------

  // The words of the query string, each decoded; "--name=value" is two words, as on a command line.
  function showArguments(query) {
    const words = [];
    for (const part of query.replace(/^\?/, '').split('&')) {
      if (!part) continue;
      const word = decodeURIComponent(part.replace(/\+/g, ' '));
      const equals = word.indexOf('=');
      if (word.startsWith('--') && equals > 2) words.push(word.slice(0, equals), word.slice(equals + 1));
      else words.push(word);
    }
    return words;
  }

  const wantsSound = (words) =>
    !words.join(' ').includes('nosound') && !words.includes('--capture') && !words.includes('--join');

  // ---- Messages ----------------------------------------------------------------------------------------

  function say(line) {
    element('problem').textContent = line;
    element('end-problem').textContent = line;
  }

  // The show's standard error: the console, and its own lines (and boxes, which have no window here)
  // on the page. It is no terminal, so a capture's progress comes in lines, not rewritten in place.
  function showError(line) {
    console.warn(line);
    if (/^narvu: |^[^:]{1,60}: /.test(line) && !line.startsWith('capture: ')) say(line);
  }

  // A character device that gathers lines, for the show's standard error.
  function lineDevice(takeLine) {
    let bytes = [];
    return (code) => {
      if (code === null || code === 10) {
        if (bytes.length) takeLine(new TextDecoder().decode(new Uint8Array(bytes)));
        bytes = [];
      } else {
        bytes.push(code);
      }
    };
  }

  // ---- Downloads ---------------------------------------------------------------------------------------

  // The bytes at `url`, telling `progress` of every piece that arrives.
  async function download(url, progress) {
    const response = await fetch(url);
    if (!response.ok) throw new Error(`${url}: ${response.status} ${response.statusText}`);
    progress.total += Number(response.headers.get('Content-Length')) || 0;
    const reader = response.body.getReader();
    const pieces = [];
    let length = 0;
    for (;;) {
      const {done, value} = await reader.read();
      if (done) break;
      pieces.push(value);
      length += value.length;
      progress.got += value.length;
      progress.show();
    }
    const bytes = new Uint8Array(length);
    let at = 0;
    for (const piece of pieces) {
      bytes.set(piece, at);
      at += piece.length;
    }
    return bytes;
  }

  async function downloadShow() {
    const bar = element('progress').firstElementChild;
    const progress = {
      got: 0,
      total: 0,
      // A server that compresses reports the compressed length: the bar stops at its end.
      show() {
        const fraction = this.total ? Math.min(1, this.got / this.total) : 0;
        bar.style.width = `${(100 * fraction).toFixed(1)}%`;
        element('loading').textContent = `loading ${(this.got / 1e6).toFixed(1)} MB`;
      },
    };
    [files.wasm, files.pack] = await Promise.all([download('narvu.wasm', progress), download('narvu.dat', progress)]);
    bar.style.width = '100%';
    element('loading').textContent = `${((files.wasm.length + files.pack.length) / 1e6).toFixed(1)} MB loaded`;
    narvu.times.downloaded = performance.now();
  }

  // ---- Music ---------------------------------------------------------------------------------------------

  // The show's music output (platform/web_sound_output.cpp calls these) over one worklet node: frames
  // queued in epochs (narvu-audio.js), the queue's length known from what the worklet reports.
  class MusicOutput {
    constructor(context, node) {
      this.context = context;
      this.node = node;
      this.epoch = 0;
      this.written = 0;
      this.played = 0;
      node.port.onmessage = (event) => {
        const report = event.data;
        if (report.epoch === this.epoch) this.played = report.played;
        narvu.sound.played = report.played;
        narvu.sound.peak = report.peak;
        narvu.sound.queued = this.queued();
      };
    }
    open(rate) { return this.context.sampleRate === rate ? 1 : 0; }
    queued() { return this.written - this.played; }
    play(samples) {
      const copy = samples.slice();
      this.written += copy.length / 2;  // before the copy's buffer goes to the worklet, which empties it here
      this.node.port.postMessage({epoch: this.epoch, samples: copy}, [copy.buffer]);
    }
    drop() {
      this.epoch += 1;
      this.written = 0;
      this.played = 0;
      this.node.port.postMessage({epoch: this.epoch});
    }
    hold(held) { this.node.port.postMessage({hold: held}); }
    suspend(suspended) { suspended ? this.context.suspend() : this.context.resume(); }
    // The worklet stops, so the node can go: a disconnected node would otherwise play on for nobody.
    close() {
      this.node.port.onmessage = null;
      this.node.port.postMessage({end: true});
      this.node.disconnect();
    }
  }

  // The worklet, on the context made at the click. The show plays at 44100 Hz, as natively; the
  // browser converts to the sound card's rate.
  async function startMusic() {
    if (!window.isSecureContext || !window.AudioWorkletNode)
      throw new Error('browsers give a page its sound only over https, or from this computer (127.0.0.1)');
    if (!soundContext) {
      soundContext = new AudioContext({sampleRate: 44100, latencyHint: 'interactive'});
      soundContext.workletAdded = soundContext.audioWorklet.addModule('narvu-audio.js');
    }
    await soundContext.workletAdded;
    const node = new AudioWorkletNode(soundContext, 'narvu-music', {numberOfInputs: 0, outputChannelCount: [2]});
    node.connect(soundContext.destination);
    await soundContext.resume();
    return new MusicOutput(soundContext, node);
  }

  // ---- The show -------------------------------------------------------------------------------------------

  // Every start draws on a canvas of its own: a canvas keeps the WebGL context it was first given.
  function freshCanvas() {
    const old = element('screen');
    const canvas = old.cloneNode(false);
    old.replaceWith(canvas);
    return canvas;
  }

  function finish(code) {
    if (!running || running.finished) return;
    running.finished = true;
    if (running.music) running.music.close();
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    element('end').hidden = false;
    element('again').focus();
    running.resolve(code);
  }

  async function start() {
    element('start').disabled = true;
    element('again').disabled = true;
    say('');
    const words = showArguments(location.search);
    let resolve;
    narvu.done = new Promise((settle) => (resolve = settle));
    running = {music: null, finished: false, resolve};
    if (wantsSound(words)) {
      try {
        running.music = await startMusic();
      } catch (error) {
        // The show then says that it has no sound output, as natively without a sound card.
        console.warn(`narvu: the page's sound did not start: ${error}`);
      }
    }
    const canvas = freshCanvas();
    element('front').hidden = true;
    element('end').hidden = true;
    canvas.focus();
    narvu.times.started = performance.now();
    narvu.times.firstFrame = undefined;
    const show = running;
    createNarvu({
      arguments: words,
      wasmBinary: files.wasm,
      canvas,
      narvuAudio: show.music,
      narvuFirstFrame: () => (narvu.times.firstFrame = performance.now()),
      preRun: [(module) => {
        module.FS.writeFile('/narvu.dat', files.pack);
        narvu.FS = module.FS;
      }],
      print: (line) => console.log(line),
      stderr: lineDevice(showError),
      onExit: (code) => finish(code),
      onAbort: (what) => {
        say(`narvu stopped: ${what}`);
        finish(1);
      },
    }).catch((error) => {
      say(`narvu could not start: ${error}`);
      finish(1);
    });
    element('again').disabled = false;
  }

  // ---- The page ----------------------------------------------------------------------------------------------

  element('start').addEventListener('click', start);
  element('again').addEventListener('click', start);

  if (!window.WebGL2RenderingContext || !window.WebAssembly) {
    say('This page needs a browser with WebGL 2 and WebAssembly (Chrome, Edge, Firefox or Safari 15 and later).');
  } else {
    downloadShow().then(
      () => {
        element('start').disabled = false;
        element('start').focus();
      },
      (error) => say(`The show could not be loaded: ${error.message}`));
  }
})();
