// The controls of a video page over the live show: a bar that appears when the pointer moves or the
// picture is tapped and goes after a few seconds of stillness, with play and pause, the time, a seek bar,
// a link to the moment, mute and volume (remembered) and full screen; a sign while paused; and the keys
// video pages have besides the show's own (K pauses, M mutes, J and L go 10 seconds, 0 to 9 jump to
// tenths, F and Alt+Enter switch full screen; the page's double click on the picture does too).
//
// The show stays the one that seeks and pauses: the bar asks it (narvuViewerSeek, narvuViewerPause in
// platform/web/web_window.cpp), and shows what it reports for every pass (position). The show's own keys
// (Space, Left, Right, Home, Esc, F12) go on to it as they are; only keys that belong to a focused
// control (Tab, and Space or Enter on a button) are kept from it, so the controls can be reached and
// used from the keyboard.
//
// narvu-page.js makes one: narvuControls({lengthMs, seek(ms), pause(paused), volumeChanged(volume, muted),
// notice(text)}).
'use strict';

window.narvuControls = (hooks) => {
  const element = (id) => document.getElementById(id);
  const stage = element('stage');
  const bar = element('bar');
  const seekBar = element('seek');
  const volumeBar = element('volume');
  const kStillMs = 3000;
  const kStepMs = 10000;

  const state = {
    live: false,      // a live show is playing: the bar and the keys are on
    sound: true,      // the show has sound to mute
    moment: 0,        // what the show reported last
    paused: false,
    dragging: false,  // the seek bar is held: the show's reports do not move it
    wanted: null,     // a seek waiting for the next animation frame
    hideTimer: 0,
    ...storedVolume(),
  };

  // m:ss
  function clock(ms) {
    const seconds = Math.max(0, Math.floor(ms / 1000));
    return `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, '0')}`;
  }
  const length = clock(Math.round(hooks.lengthMs / 1000) * 1000);

  // ---- Volume, remembered between visits -------------------------------------------------------------

  function storedVolume() {
    try {
      const volume = Number(localStorage.getItem('narvu.volume'));
      return {volume: localStorage.getItem('narvu.volume') === null || !(volume >= 0 && volume <= 1) ? 1 : volume,
              muted: localStorage.getItem('narvu.muted') === '1'};
    } catch {
      return {volume: 1, muted: false};  // storage refused (a sandboxed frame): nothing is remembered
    }
  }

  function setVolume(volume, muted) {
    state.volume = Math.min(1, Math.max(0, volume));
    state.muted = muted;
    try {
      localStorage.setItem('narvu.volume', String(state.volume));
      localStorage.setItem('narvu.muted', muted ? '1' : '0');
    } catch {
      // not remembered
    }
    showVolume();
    hooks.volumeChanged(state.volume, state.muted);
  }

  function showVolume() {
    const silent = state.muted || state.volume === 0 || !state.sound;
    element('mute').setAttribute('aria-label', state.muted ? 'Unmute' : 'Mute');
    element('mute').title = state.muted ? 'Unmute (M)' : 'Mute (M)';
    element('mute').querySelector('.waves').toggleAttribute('hidden', silent);
    element('mute').querySelector('.cross').toggleAttribute('hidden', !silent);
    volumeBar.value = String(state.muted ? 0 : state.volume);
  }

  // ---- The bar ---------------------------------------------------------------------------------------

  function showBar() {
    if (!state.live) return;
    const wasAway = bar.classList.contains('away');
    bar.classList.remove('away');
    stage.classList.remove('still');
    clearTimeout(state.hideTimer);
    state.hideTimer = setTimeout(hideBar, kStillMs);
    if (wasAway) showTime();
  }

  // Not while the viewer is on it: the pointer over it, a control in use, or the show paused.
  function hideBar() {
    if (bar.matches(':hover') || bar.contains(document.activeElement) || state.dragging || state.paused) {
      state.hideTimer = setTimeout(hideBar, kStillMs);
      return;
    }
    bar.classList.add('away');
    stage.classList.add('still');
  }

  // The time and the seek bar; only while the bar shows, for nobody sees them otherwise.
  function showTime() {
    if (bar.classList.contains('away')) return;
    const moment = state.dragging ? Number(seekBar.value) : state.moment;
    const text = `${clock(moment)} / ${length}`;
    if (element('time').textContent !== text) {
      element('time').textContent = text;
      seekBar.setAttribute('aria-valuetext', `${clock(moment)} of ${length}`);
    }
    if (!state.dragging) seekBar.value = String(state.moment);
  }

  function showPosition(wasPaused) {
    const paused = state.paused;
    if (paused !== wasPaused) {
      element('paused-sign').hidden = !paused;
      element('play').setAttribute('aria-label', paused ? 'Play' : 'Pause');
      element('play').title = paused ? 'Play (K)' : 'Pause (K)';
      element('play').querySelector('.pause').toggleAttribute('hidden', paused);
      element('play').querySelector('.play').toggleAttribute('hidden', !paused);
      if (paused) showBar();
    }
    showTime();
  }

  // A seek lands where the show's own seeks land; during a drag at most one per animation frame goes. The
  // seek bar moves in tenths of a second.
  function seek(ms) {
    const first = state.wanted === null;
    state.wanted = Math.round(Math.min(hooks.lengthMs, Math.max(0, ms)));
    if (first)
      requestAnimationFrame(() => {
        hooks.seek(state.wanted);
        state.wanted = null;
      });
    showBar();
  }

  function togglePause() {
    hooks.pause(!state.paused);
    showBar();
  }

  function toggleFullscreen() {
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    else if (stage.requestFullscreen) stage.requestFullscreen().catch(() => {});
  }

  // A link that opens the show at this moment (#t=SECONDS, as media fragments have it).
  async function copyLink() {
    const seconds = Math.floor(state.moment / 100) / 10;
    const link = `${location.origin}${location.pathname}${location.search}#t=${seconds}`;
    let copied = false;
    try {
      await navigator.clipboard.writeText(link);
      copied = true;
    } catch {
      // Over plain http there is no clipboard interface: the older way, from the viewer's click.
      const field = document.createElement('textarea');
      field.value = link;
      document.body.append(field);
      field.select();
      copied = document.execCommand && document.execCommand('copy');
      field.remove();
    }
    hooks.notice(copied ? `Link to ${clock(state.moment)} copied: ${link}` : `A link to ${clock(state.moment)}: ${link}`);
  }

  element('play').addEventListener('click', togglePause);
  element('full').addEventListener('click', toggleFullscreen);
  element('link').addEventListener('click', copyLink);
  element('mute').addEventListener('click', () => setVolume(state.muted && state.volume === 0 ? 1 : state.volume,
                                                               !state.muted));
  volumeBar.addEventListener('input', () => setVolume(Number(volumeBar.value), false));
  seekBar.addEventListener('input', () => {
    seek(Number(seekBar.value));
    showTime();
  });
  seekBar.addEventListener('pointerdown', () => (state.dragging = true));
  for (const end of ['pointerup', 'pointercancel', 'change'])
    seekBar.addEventListener(end, () => {
      if (state.dragging) {
        state.dragging = false;
        seek(Number(seekBar.value));
      }
    });
  stage.addEventListener('pointermove', showBar);
  stage.addEventListener('pointerdown', showBar);

  // ---- Keys --------------------------------------------------------------------------------------------

  // Taken before the show's handler, which listens on the document: the video page's keys are the
  // page's, and keys that belong to a focused control are the control's. Outside live play (a show
  // waiting for Start behind the start panel, the end panel) no key is the show's.
  window.addEventListener('keydown', (event) => {
    if (!state.live) {
      event.stopPropagation();
      return;
    }
    const control = event.target instanceof HTMLButtonElement || event.target instanceof HTMLInputElement;
    if (event.key === 'Tab' || (control && (event.key === ' ' || event.key === 'Enter'))) {
      event.stopPropagation();
      showBar();
      return;
    }
    if (event.ctrlKey || event.metaKey) return;
    let handled = true;
    if (event.altKey) {
      if (event.key !== 'Enter') return;
      if (!event.repeat) toggleFullscreen();
    } else if (event.code === 'KeyK') {
      if (!event.repeat) togglePause();
    } else if (event.code === 'KeyM') {
      if (!event.repeat && state.sound) setVolume(state.volume, !state.muted);
    } else if (event.code === 'KeyJ' || event.code === 'KeyL') {
      seek(state.moment + (event.code === 'KeyL' ? kStepMs : -kStepMs));
    } else if (event.code === 'KeyF') {
      if (!event.repeat) toggleFullscreen();
    } else if (/^(Digit|Numpad)[0-9]$/.test(event.code)) {
      seek((hooks.lengthMs * Number(event.code.slice(-1))) / 10);
    } else {
      handled = false;
      if (['ArrowLeft', 'ArrowRight', 'Home'].includes(event.key)) showBar();
    }
    if (handled) {
      event.preventDefault();
      event.stopPropagation();
    }
  }, true);

  showVolume();

  return {
    get volume() {
      return state.muted || !state.sound ? 0 : state.volume;
    },
    // A live show starts (with or without sound, the reason said in the bar), or stops.
    live(on, sound = true, quietReason = '') {
      state.live = on;
      state.sound = sound;
      state.paused = false;
      state.moment = 0;
      bar.hidden = !on;
      showPosition(true);
      element('mute').disabled = !sound;
      volumeBar.disabled = !sound;
      element('quiet').hidden = sound;
      element('quiet').title = quietReason;
      showVolume();
      if (on) {
        bar.classList.add('away');
        stage.classList.remove('still');
      } else {
        clearTimeout(state.hideTimer);
        stage.classList.remove('still');
      }
    },
    // The show's report of every pass.
    position(moment, paused) {
      if (moment === state.moment && paused === state.paused) return;
      const wasPaused = state.paused;
      state.moment = moment;
      state.paused = paused;
      showPosition(wasPaused);
    },
    toggleFullscreen,
  };
};
