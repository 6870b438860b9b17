// The page around the show. Before anything large is downloaded it asks the browser for a real WebGL 2
// context; without one it says so and offers nothing to start. Otherwise it shows the poster, downloads
// the show (narvu.js, narvu.wasm) and its pack (narvu.dat) with their progress, checks each against the
// length the page was promised, and compiles the show while the viewer reads. The viewer's click starts
// it (browsers give sound and full screen only after one), with the words of the address's query string
// as its arguments and #t=SECONDS as the moment to start at; it gets its music's way to the speaker, or
// plays without sound where the browser gives the page none, saying why. Every line the show prints for
// the viewer is shown, in order; an in-page capture shows its progress and offers its files.
//
//   index.html?nosound&--timedemo                           narvu nosound --timedemo
//   index.html?--capture=cap&--fps=25&--from=15&--to=17     narvu --capture cap --fps 25 --from 15 --to 17
//   index.html#t=62 (or #t=1:02, #t=10,20)                  narvu --from 62 (--from 10 --to 20)
//
// For scripts, the page sets the global `narvu`:
//   narvu.FS        the show's file system (where an in-page capture leaves its PNG frames and audio.wav)
//   narvu.done      a promise of the show's exit code (a new one at every start)
//   narvu.sound     the music as the worklet reports it: frames played since the song was started or
//                   moved, the loudest sample it played lately (0 to 1, after the volume), frames mixed
//                   ahead of what it played, and how often (underruns) and for how many frames (missed)
//                   it had nothing to play
//   narvu.position  the moment of the timeline the picture shows (ms) and whether it is paused
//   narvu.lines     what the show printed, [{kind: 'text' | 'problem' | 'result', text}]
//   narvu.times     milliseconds since the page began loading: downloaded, compiled, started, firstFrame
'use strict';

(() => {
  const element = (id) => document.getElementById(id);
  const kLengthMs = 107500;
  const kSampleRate = 44100;
  const narvu = (window.narvu = {
    FS: null,
    done: null,
    sound: {played: 0, peak: 0, queued: 0, underruns: 0, missed: 0},
    position: {moment: 0, paused: false},
    lines: [],
    times: {},
  });
  const files = JSON.parse(element('narvu-files').textContent);
  const page = {
    wasm: null,         // the compiled show, a promise of a WebAssembly.Module
    pack: null,         // its bytes
    soundContext: null, // made for the first run, kept for every later one
    running: null,      // the run the viewer sees (newRun)
    prepared: null,     // a live run started before the click, waiting for it
    softwareGl: false,  // the browser draws WebGL on the processor
    notes: [],          // the page's own words about the address and the sound
    noticeTimer: 0,
  };
  const controls = window.narvuControls({
    lengthMs: kLengthMs,
    seek: (ms) => showCall('_narvuViewerSeek', ms),
    pause: (paused) => showCall('_narvuViewerPause', paused ? 1 : 0),
    volumeChanged: (volume, muted) => page.running && page.running.music &&
                                      page.running.music.volume(muted ? 0 : volume),
    notice: (text) => notice(text, 8000),
  });

  // A call into the running show, once it is there.
  function showCall(name, ...values) {
    const run = page.running;
    if (run && !run.finished && run.module && run.module[name]) run.module[name](...values);
  }

  const clock = (ms) => {
    const seconds = Math.max(0, Math.floor(ms / 1000));
    return `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, '0')}`;
  };

  // ---- What the address asks for ----------------------------------------------------------------------

  // The words of the query string, each decoded; "--name=value" is two words, as on a command line. A
  // word that is no valid percent-encoding is left out, and named.
  function queryWords(query, notes) {
    const words = [];
    for (const part of query.replace(/^\?/, '').split('&')) {
      if (!part) continue;
      let word;
      try {
        word = decodeURIComponent(part.replace(/\+/g, ' '));
      } catch {
        notes.push(`The address's word “${part}” is no valid percent-encoding (a % must be followed by two ` +
                   `hexadecimal digits of UTF-8): it was left out, and the show plays without it.`);
        continue;
      }
      const equals = word.indexOf('=');
      if (word.startsWith('--') && equals > 2) words.push(word.slice(0, equals), word.slice(equals + 1));
      else words.push(word);
    }
    return words;
  }

  // Seconds in the media fragments' forms: 62, 62.5, 1:02, 0:01:02.5; NaN for anything else.
  function fragmentSeconds(text) {
    const match = /^(?:(?:(\d+):)?(\d+):)?(\d+(?:\.\d*)?)$/.exec(text.replace(/^npt:/, ''));
    if (!match) return NaN;
    const [hours, minutes, seconds] = [Number(match[1] || 0), Number(match[2] || 0), Number(match[3])];
    const withMinutes = match[2] !== undefined, withHours = match[1] !== undefined;
    if ((withMinutes && seconds >= 60) || (withHours && minutes >= 60)) return NaN;
    return hours * 3600 + minutes * 60 + seconds;
  }

  // #t=START or #t=START,END: live play from START (to END), as --from and --to ask natively.
  function fragmentWords(hash, words, notes) {
    const found = /(?:^#|&)t=([^&]*)/.exec(hash);
    if (!found) return [];
    let value = found[1];
    try {
      value = decodeURIComponent(value);
    } catch {
      // named below as it came
    }
    const [start, end] = value.split(',');
    const from = start === '' ? 0 : fragmentSeconds(start);
    const to = end === undefined ? null : fragmentSeconds(end);
    if (Number.isNaN(from) || Number.isNaN(to)) {
      notes.push(`The address's moment “#t=${value}” is no time (seconds, or m:ss): the show starts from ` +
                 `its beginning.`);
      return [];
    }
    if (words.includes('--capture') || words.includes('--from') || words.includes('--to')) {
      notes.push(`The address's moment “#t=${value}” is left out: its words choose the interval already.`);
      return [];
    }
    return [...(from > 0 ? ['--from', String(from)] : []), ...(to === null ? [] : ['--to', String(to)])];
  }

  // What kind of run the words ask for, as far as the page's panels go; the show itself decides.
  function runMode(words) {
    if (words.some((word) => ['--help', '-h', '--version'].includes(word))) return 'text';
    if (words.includes('--music-only')) return 'music';
    if (words.includes('--capture') || words.includes('--join')) return 'capture';
    return 'live';
  }

  // ---- Lines -------------------------------------------------------------------------------------------

  // The show's standard output is text for the viewer (--help, --version, --timedemo's report, the
  // music's facts); its standard error its problems, but for a capture's summary, a result, and its
  // progress, which has a place of its own.
  function takeLine(run, text, fromStandardError) {
    if (fromStandardError && text.startsWith('capture: ')) {
      captureProgress(text.slice('capture: '.length));
      return;
    }
    const result = fromStandardError && /^narvu: \d+ frames? \(/.test(text);
    const kind = !fromStandardError ? 'text' : result ? 'result' : 'problem';
    run.lines.push({kind, text});
    (fromStandardError && !result ? console.warn : console.log)(text);
    if (run.held) return;  // the viewer has not started it yet: shown when it starts, or if it ends first
    addLine(element(run.mode === 'music' ? 'music-lines' : 'lines'), kind, text);
    if (kind === 'problem' && run.mode === 'live') notice(text, 8000);
  }

  function addLine(list, kind, text) {
    const line = document.createElement('div');
    line.className = `line ${kind}`;
    line.textContent = text;
    list.append(line);
  }

  // A character device for the show's standard output or error: whole lines, and a line rewritten in
  // place after a carriage return (a capture's progress) as a line of its own.
  function lineDevice(run, fromStandardError) {
    let bytes = [];
    const decoder = new TextDecoder();
    return (code) => {
      if (code === null || code === 10 || code === 13) {
        const text = decoder.decode(new Uint8Array(bytes)).trimEnd();
        bytes = [];
        if (text) takeLine(run, text, fromStandardError);
      } else {
        bytes.push(code);
      }
    };
  }

  // A note over the picture for a while (the page's own words during the show).
  function notice(text, milliseconds) {
    const box = element('notice');
    box.textContent = text;
    box.hidden = false;
    clearTimeout(page.noticeTimer);
    page.noticeTimer = setTimeout(() => (box.hidden = true), milliseconds);
  }

  // The page's words on the start panel: notes, and the problems that leave nothing to start.
  function showNotes(problems = []) {
    const list = element('notes');
    list.textContent = '';
    for (const text of page.notes) addLine(list, 'note', text);
    for (const text of problems) addLine(list, 'problem', text);
  }

  function fail(text) {
    element('loading').textContent = '';
    element('progress').hidden = true;
    element('start').hidden = true;
    element('keys').hidden = true;
    showNotes([text]);
  }

  // ---- Downloads ---------------------------------------------------------------------------------------

  // The bytes of `file`, telling `progress` of every piece; false when fewer or more arrived than the
  // page was promised (a connection cut short, a proxy that changed them).
  async function download(file, progress) {
    const response = await fetch(file.name);
    if (!response.ok) throw new Error(`${file.name}: ${response.status} ${response.statusText}`);
    const reader = response.body.getReader();
    const bytes = new Uint8Array(file.bytes);
    let length = 0;
    for (;;) {
      const {done, value} = await reader.read();
      if (done) break;
      if (length + value.length > bytes.length) return {file, length: length + value.length};
      bytes.set(value, length);
      length += value.length;
      progress(value.length);
    }
    return {file, length, bytes};
  }

  // narvu.js, as a script, whose length the browser checks no more than a page can: the factory it
  // defines must be there.
  function loadScript(file, progress) {
    return new Promise((resolve) => {
      const script = document.createElement('script');
      script.src = file.name;
      script.onload = () => {
        progress(file.bytes);
        resolve(typeof window.createNarvu === 'function');
      };
      script.onerror = () => resolve(false);
      document.head.append(script);
    });
  }

  // The promised lengths make the bar right behind a server that compresses, whose Content-Length is
  // the compressed one.
  async function downloadShow() {
    const bar = element('progress').firstElementChild;
    const total = files.show.bytes + files.wasm.bytes + files.pack.bytes;
    let got = 0;
    const progress = (bytes) => {
      got += bytes;
      bar.style.width = `${((100 * Math.min(got, total)) / total).toFixed(1)}%`;
      element('loading').textContent = `loading ${(got / 1e6).toFixed(1)} of ${(total / 1e6).toFixed(1)} MB`;
    };
    element('progress').hidden = false;
    progress(0);
    const [script, wasm, pack] = await Promise.all([loadScript(files.show, progress), download(files.wasm, progress),
                                                     download(files.pack, progress)]);
    for (const part of [wasm, pack])
      if (!part.bytes || part.length !== part.file.bytes)
        throw new Error(`the show's data did not arrive whole (${part.file.name}: ${part.length} of ` +
                        `${part.file.bytes} bytes); reload the page`);
    if (!script) throw new Error(`the show's program did not arrive whole (${files.show.name}); reload the page`);
    narvu.times.downloaded = performance.now();
    element('loading').textContent = `${(total / 1e6).toFixed(1)} MB loaded`;
    page.pack = pack.bytes;
    // Compiled while the viewer reads the page, not after the click.
    page.wasm = WebAssembly.compile(wasm.bytes);
    await page.wasm.catch(() => {
      throw new Error(`the show's program did not arrive whole (${files.wasm.name} does not compile); reload the page`);
    });
    narvu.times.compiled = performance.now();
  }

  // ---- Sound -------------------------------------------------------------------------------------------

  // Why the page can have no sound here, or null when it can.
  function soundRefused() {
    if (!window.isSecureContext)
      return 'Browsers give a page sound only over https or from this computer (127.0.0.1, localhost), ' +
             'and this page came over plain http from another address: the show plays without sound. For ' +
             'sound, serve the page over https, or open it on the computer that serves it.';
    if (!window.AudioWorkletNode || !window.AudioContext)
      return 'This browser has no AudioWorklet, through which the page plays its music: the show plays ' +
             'without sound.';
    return null;
  }

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
        Object.assign(narvu.sound, {played: report.played, peak: report.peak, underruns: report.underruns,
                                    missed: report.missed, queued: this.queued()});
      };
    }
    open(rate) { return this.context.sampleRate === rate ? 1 : 0; }
    queued() { return this.written - this.played; }
    // `samples` is the show's copy, which goes to the worklet.
    play(samples) {
      this.written += samples.length / 2;  // before its buffer goes to the worklet, which empties it here
      this.node.port.postMessage({epoch: this.epoch, samples}, [samples.buffer]);
    }
    drop() {
      this.epoch += 1;
      this.written = 0;
      this.played = 0;
      this.node.port.postMessage({epoch: this.epoch});
    }
    hold(held) { this.node.port.postMessage({hold: held}); }
    volume(volume) { this.node.port.postMessage({volume}); }
    suspend(suspended) { suspended ? this.context.suspend() : this.context.resume(); }
    // The worklet stops, so the node can go: a disconnected node would otherwise play on for nobody.
    close() {
      this.node.port.onmessage = null;
      this.node.port.postMessage({end: true});
      this.node.disconnect();
    }
  }

  // The worklet, on the context made at the first click, or before it for a show the page starts ahead
  // of the click, where the context waits, suspended, for the click to resume it. The show plays at
  // 44100 Hz, as natively; the browser converts to the sound card's rate.
  async function startMusic(resume) {
    if (!page.soundContext) {
      page.soundContext = new AudioContext({sampleRate: kSampleRate, latencyHint: 'interactive'});
      page.soundContext.workletAdded = page.soundContext.audioWorklet.addModule(files.audio.name);
    }
    const context = page.soundContext;
    if (context.sampleRate !== kSampleRate) throw new Error(`the browser plays at ${context.sampleRate} Hz only`);
    await context.workletAdded;
    const node = new AudioWorkletNode(context, 'narvu-music', {numberOfInputs: 0, outputChannelCount: [2]});
    node.connect(context.destination);
    if (resume) await context.resume();
    const music = new MusicOutput(context, node);
    music.volume(controls.volume);
    return music;
  }

  // ---- Capture -------------------------------------------------------------------------------------------

  // "frame 12 of 51, 3.2 frames/s, 12 s left" or "seeking to 15.0 s, now at 3.0 s".
  function captureProgress(text) {
    element('capture-line').textContent = text;
    const frames = /^frame (\d+) of (\d+)/.exec(text);
    const seeking = /^seeking to ([\d.]+) s, now at ([\d.]+) s/.exec(text);
    const share = frames ? frames[1] / frames[2] : seeking ? (0.1 * seeking[2]) / seeking[1] : 0;
    element('capture-status').querySelector('.meter > div').style.width = `${(100 * share).toFixed(1)}%`;
  }

  // The files of a capture folder, [{name, bytes}], frames in order.
  function captureFiles(module, folder) {
    try {
      return module.FS.readdir(folder).filter((name) => !name.startsWith('.')).sort()
          .map((name) => ({name, bytes: module.FS.readFile(`${folder}/${name}`)}));
    } catch {
      return [];  // no folder: the capture failed before its first frame
    }
  }

  // CRC-32 of ZIP (and PNG): reflected, polynomial 0xEDB88320.
  const crcTable = (() => {
    const table = new Uint32Array(256);
    for (let n = 0; n < 256; ++n) {
      let c = n;
      for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
      table[n] = c >>> 0;
    }
    return table;
  })();
  function crc32(bytes) {
    let crc = 0xffffffff;
    for (let i = 0; i < bytes.length; ++i) crc = crcTable[(crc ^ bytes[i]) & 0xff] ^ (crc >>> 8);
    return (crc ^ 0xffffffff) >>> 0;
  }

  // One ZIP of the files, stored as they are (PNG is compressed already), names in UTF-8. ZIP's 32-bit
  // offsets hold up to 4 GiB, and 65535 files.
  function zip(entries) {
    const parts = [];
    const directory = [];
    let offset = 0;
    const now = new Date();
    const time = (now.getHours() << 11) | (now.getMinutes() << 5) | (now.getSeconds() >> 1);
    const date = ((now.getFullYear() - 1980) << 9) | ((now.getMonth() + 1) << 5) | now.getDate();
    const header = (size, fill) => {
      const bytes = new Uint8Array(size);
      fill(new DataView(bytes.buffer));
      return bytes;
    };
    for (const {name, bytes} of entries) {
      const encoded = new TextEncoder().encode(name);
      const crc = crc32(bytes);
      const common = (view, at) => {
        view.setUint16(at, 20, true);          // version needed: 2.0
        view.setUint16(at + 2, 0x0800, true);  // names in UTF-8
        view.setUint16(at + 4, 0, true);       // stored
        view.setUint16(at + 6, time, true);
        view.setUint16(at + 8, date, true);
        view.setUint32(at + 10, crc, true);
        view.setUint32(at + 14, bytes.length, true);
        view.setUint32(at + 18, bytes.length, true);
        view.setUint16(at + 22, encoded.length, true);
      };
      parts.push(header(30, (view) => {
        view.setUint32(0, 0x04034b50, true);
        common(view, 4);
      }), encoded, bytes);
      directory.push(header(46, (view) => {
        view.setUint32(0, 0x02014b50, true);
        view.setUint16(4, 20, true);  // made by: 2.0
        common(view, 6);
        view.setUint32(42, offset, true);
      }), encoded);
      offset += 30 + encoded.length + bytes.length;
    }
    const directoryLength = directory.reduce((sum, part) => sum + part.length, 0);
    const end = header(22, (view) => {
      view.setUint32(0, 0x06054b50, true);
      view.setUint16(8, entries.length, true);
      view.setUint16(10, entries.length, true);
      view.setUint32(12, directoryLength, true);
      view.setUint32(16, offset, true);
    });
    return new Blob([...parts, ...directory, end], {type: 'application/zip'});
  }

  // After a capture: one link to its files as a ZIP, made when it is clicked.
  function offerCapture(module, folder) {
    const entries = captureFiles(module, folder);
    const place = element('downloads');
    place.textContent = '';
    if (!entries.length) return;
    const bytes = entries.reduce((sum, entry) => sum + entry.bytes.length, 0);
    const frames = entries.filter((entry) => entry.name.endsWith('.png')).length;
    const what = `${frames} frame${frames === 1 ? '' : 's'}` +
                 (entries.some((entry) => entry.name === 'audio.wav') ? ' and audio.wav' : '');
    if (bytes + 100 * entries.length >= 2 ** 32 || entries.length > 65535) {
      addLine(place, 'note', `The capture (${what}, ${(bytes / 1e6).toFixed(0)} MB) is too large for one ZIP: ` +
                             `read its files from narvu.FS, in ${folder}.`);
      return;
    }
    const link = document.createElement('a');
    const base = folder.split('/').filter(Boolean).pop() || 'capture';
    link.download = `${base}.zip`;
    link.href = '#';
    link.textContent = `Download the capture: ${what}, ${(bytes / 1e6).toFixed(1)} MB, as ${base}.zip`;
    link.addEventListener('click', () => {
      if (link.href.startsWith('blob:')) return;
      link.href = URL.createObjectURL(zip(entries));
    });
    place.append(link);
  }

  // ---- The music alone ------------------------------------------------------------------------------------

  // The time played, against the module's length once the show has printed it.
  function followMusic(run) {
    const tick = () => {
      if (run.finished) return;
      const length = run.lines.map((line) => /^length:\s+(\d+:\d\d)/.exec(line.text)).find(Boolean);
      element('music-time').textContent = clock((1000 * narvu.sound.played) / kSampleRate) +
                                          (length ? ` / ${length[1]}` : '');
      requestAnimationFrame(tick);
    };
    tick();
  }

  // Esc or Stop ends a run without a window (the music alone, a capture) as SIGINT ends it natively.
  function stopRun() { showCall('_narvuEndSignal'); }
  element('music-stop').addEventListener('click', stopRun);
  element('capture-stop').addEventListener('click', stopRun);
  window.addEventListener('keydown', (event) => {
    const run = page.running;
    if (event.key === 'Escape' && run && !run.finished && (run.mode === 'music' || run.mode === 'capture')) {
      event.preventDefault();
      stopRun();
    }
  }, true);

  // ---- The show -------------------------------------------------------------------------------------------

  // Every start draws on a canvas of its own: a canvas keeps the WebGL context it was first given.
  function freshCanvas() {
    const old = element('screen');
    const canvas = old.cloneNode(false);
    old.replaceWith(canvas);
    canvas.addEventListener('dblclick', () => page.running && page.running.mode === 'live' &&
                                              !page.running.finished && controls.toggleFullscreen());
    return canvas;
  }

  // A run of the show as the address asks for it (Play again: from the show's start, not the address's
  // moment), with the panels it needs.
  function newRun(again) {
    const notes = [];
    const words = queryWords(location.search, notes);
    if (!again) words.push(...fragmentWords(location.hash, words, notes));
    const run = {mode: runMode(words), words, notes, music: null, module: null, finished: false, held: false,
                 ready: false, silent: words.join(' ').includes('nosound'), quiet: null, lines: [], folder: ''};
    run.done = new Promise((settle) => (run.resolve = settle));
    const folderAt = Math.max(words.indexOf('--capture'), words.indexOf('--join'));
    if (folderAt >= 0) run.folder = `/${(words[folderAt + 1] || '').replace(/^\/+|\/+$/g, '')}`;
    return run;
  }

  // The words the run goes with: nosound where the page has no sound to give (and why, in run.quiet);
  // null when the run cannot go at all (the music alone, without sound).
  async function giveSound(run, resume) {
    const refused = soundRefused();
    if (run.mode === 'music' && refused) {
      takeLine(run, `narvu: --music-only plays only the music, and this page has none: ${refused}`, true);
      return null;
    }
    if (run.mode === 'text' || run.mode === 'capture' || run.silent) return run.words;
    try {
      if (refused) throw new Error(refused);
      run.music = await startMusic(resume);
      return run.words;
    } catch (error) {
      run.quiet = refused || `The sound did not start (${error.message}): the show plays without it.`;
      return [...run.words, 'nosound'];
    }
  }

  // Starts the show of `run` with `words`; a run started ahead of the click waits before its timeline
  // until go() (platform/web/web_window.cpp: awaitViewer).
  function launch(run, words) {
    const canvas = freshCanvas();
    const module = {
      arguments: words,
      canvas,
      narvuAudio: run.music,
      narvuSoftwareGl: page.softwareGl,
      narvuFirstFrame: () => (narvu.times.firstFrame = performance.now()),
      narvuPosition: (moment, paused) => {
        narvu.position.moment = moment;
        narvu.position.paused = paused;
        controls.position(moment, paused);
      },
      instantiateWasm: (imports, receive) => {
        page.wasm.then((compiled) => WebAssembly.instantiate(compiled, imports))
            .then((instance) => receive(instance), (error) => module.onAbort(String(error)));
        return {};
      },
      preRun: [(show) => {
        show.FS.writeFile('/narvu.dat', page.pack);
        narvu.FS = show.FS;
      }],
      print: (text) => console.log(text),
      printErr: (text) => console.warn(text),
      stdout: lineDevice(run, false),
      stderr: lineDevice(run, true),
      onExit: (code) => finish(run, code),
      onAbort: (what) => {
        takeLine(run, `narvu stopped: ${what}`, true);
        finish(run, 1);
      },
    };
    if (run.held) {
      module.narvuStart = new Promise((release) => (run.release = release));
      module.narvuReady = () => {
        run.ready = true;
        if (run.goWhenReady) {
          go(run);
          return;
        }
        element('start').disabled = false;
        if (!document.activeElement || document.activeElement === document.body) element('start').focus();
      };
    }
    run.module = module;
    createNarvu(module).catch((error) => {
      takeLine(run, `narvu could not start: ${error}`, true);
      finish(run, 1);
    });
    return canvas;
  }

  // From the click on, the run is what the viewer sees.
  function show(run, canvas) {
    page.running = run;
    narvu.done = run.done;
    narvu.lines = run.lines;
    for (const id of ['lines', 'music-lines', 'downloads']) element(id).textContent = '';
    for (const text of run.notes) addLine(element('lines'), 'note', text);
    for (const line of run.lines) addLine(element(run.mode === 'music' ? 'music-lines' : 'lines'), line.kind, line.text);
    element('front').hidden = true;
    element('end').hidden = true;
    element('music').hidden = run.mode !== 'music';
    element('capture-status').hidden = run.mode !== 'capture';
    captureProgress('starting');
    controls.live(run.mode === 'live', Boolean(run.music), run.quiet || '');
    const problems = run.lines.filter((line) => line.kind === 'problem').map((line) => line.text);
    if (run.mode === 'live' && (run.quiet || run.notes.length || problems.length))
      notice([run.quiet, ...run.notes, ...problems].filter(Boolean).join(' '), 10000);
    if (run.mode === 'music') followMusic(run);
    if (canvas) canvas.focus();
    narvu.times.started = performance.now();
  }

  // The show started before the click goes on; its sound starts now, inside the viewer's click.
  function go(run) {
    page.prepared = null;
    if (run.music) page.soundContext.resume().catch(() => {});
    run.held = false;
    narvu.times.firstFrame = undefined;
    show(run, element('screen'));
    run.release();
  }

  // Start, or Play again: the run prepared for it goes on, at once or as soon as it is ready; without
  // one (a run that is not live play, or one that ended before the click), a run starts now.
  async function start(again) {
    element('start').disabled = true;
    element('again').disabled = true;
    const prepared = page.prepared;
    if (prepared && !prepared.finished) {
      if (prepared.ready) go(prepared);
      else prepared.goWhenReady = true;
      element('again').disabled = false;
      return;
    }
    narvu.times.firstFrame = undefined;
    const run = newRun(again);
    const words = await giveSound(run, true);
    if (!words) {
      show(run, null);
      finish(run, 1);
    } else {
      show(run, launch(run, words));
    }
    element('again').disabled = false;
  }

  // A live run is started as soon as the show is compiled, and again as soon as one ends, and waits for
  // the click before its timeline: the viewer's Start, or Play again, finds it loaded and prepared.
  async function prepare(run) {
    run.held = true;
    page.prepared = run;
    launch(run, await giveSound(run, false));
  }

  // The viewer's next move after the end is Play again, reachable at once from the keyboard; leaving full
  // screen moves the focus, so it is given once the page is back from full screen. A run started ahead
  // of the click that ended before it (a mistake in the address's options) says why on the start panel,
  // where Start runs it again for the viewer to see it end; if the viewer had clicked already, its end
  // is the end they see.
  async function finish(run, code) {
    if (run.finished) return;
    run.finished = true;
    if (run.music) run.music.close();
    run.resolve(code);
    if (run.held) {
      page.prepared = null;
      run.held = false;
      if (!run.goWhenReady) {
        showNotes(run.lines.filter((line) => line.kind !== 'text').map((line) => line.text));
        element('start').disabled = false;
        return;
      }
      show(run, null);
    }
    if (run !== page.running) return;
    controls.live(false);
    element('capture-status').hidden = true;
    element('music').hidden = true;
    element('end').hidden = false;
    if (run.mode === 'music') for (const line of run.lines) addLine(element('lines'), line.kind, line.text);
    if (run.mode === 'capture' && run.module && run.module.FS) offerCapture(run.module, run.folder);
    if (run.mode === 'live') {
      run.module = null;  // its memory goes; a capture's files stay readable in narvu.FS
      prepare(newRun(true));
    }
    if (document.fullscreenElement) await document.exitFullscreen().catch(() => {});
    element('again').focus();
  }
  document.addEventListener('fullscreenchange', () => {
    if (!document.fullscreenElement && !element('end').hidden) element('again').focus();
  });

  // ---- The page ----------------------------------------------------------------------------------------------

  // A real context, not the interface's name: a browser that blocks WebGL 2 (a GPU on its list, a
  // setting) still has WebGL2RenderingContext, and gives null here. Whether a software rasteriser
  // draws it is noted for the show, which then keeps its drawing buffer small (web_gl_surface.cpp).
  function hasWebGl2() {
    try {
      const gl = document.createElement('canvas').getContext('webgl2');
      if (!gl) return false;
      const info = gl.getExtension('WEBGL_debug_renderer_info');
      const renderer = info ? String(gl.getParameter(info.UNMASKED_RENDERER_WEBGL)) : '';
      page.softwareGl = /SwiftShader|llvmpipe|softpipe|Software|Basic Render/i.test(renderer);
      const lose = gl.getExtension('WEBGL_lose_context');
      if (lose) lose.loseContext();
      return true;
    } catch {
      return false;
    }
  }

  element('start').addEventListener('click', () => start(false));
  element('again').addEventListener('click', () => start(true));

  if (!window.WebAssembly || !hasWebGl2()) {
    fail(`This show needs ${window.WebAssembly ? 'WebGL 2' : 'WebAssembly'}, which this browser does not offer ` +
         'or has turned off: try a current Chrome, Edge, Firefox or Safari, with hardware acceleration on ' +
         'in its settings.');
    return;
  }
  const poster = element('poster');
  poster.src = files.poster.name;
  poster.onload = () => (poster.hidden = false);
  queryWords(location.search, page.notes);
  fragmentWords(location.hash, queryWords(location.search, []), page.notes);
  const refused = soundRefused();
  if (refused) {
    page.notes.push(refused);
    element('sound-fact').textContent = 'its music silent here';
  }
  showNotes();
  element('keys').hidden = false;
  element('start').hidden = false;
  downloadShow().then(
    () => {
      const run = newRun(false);
      if (run.mode === 'live') {
        prepare(run);
      } else {
        element('start').disabled = false;
        element('start').focus();
      }
    },
    (error) => fail(`The show could not be loaded: ${error.message}.`));
})();
