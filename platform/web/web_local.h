// Inside the page's backend only (platform/web/): what its files ask of each other.
//
// The page (web/narvu-page.js) gives the show a canvas, #screen; and, when it could start sound,
// Module.narvuAudio, the music's way to the AudioWorklet.
#pragma once

#include "platform/platform_local.h"

// The CSS selector of the show's canvas.
extern const char kCanvasSelector[];

// ---- The browser's turns (web_turns.cpp) ------------------------------------------------------------
// The show's loop runs as one long call from main. The browser (its events, painting the canvas, the
// worklet's messages) runs only in the turns the show gives it, which Asyncify lets it give from inside
// the loop: at every presentation, at the browser's next animation frame when waiting for the display,
// else as soon as the browser has looked at its events. The sound output is fed after every turn.
void giveBrowserTurn(bool wait_for_display);

// ---- The GL surface (web_gl_surface.cpp) -------------------------------------------------------------
// Returns once the browser's GPU process has done everything the show asked of GL so far (the loading's
// textures, the preparation's programs and draws), giving the browser turns meanwhile.
void waitUntilGlCaughtUp();

// ---- The sound output (web_sound_output.cpp) -------------------------------------------------------
// Tops up what the worklet has ahead of what it plays; after every turn.
void feedSoundOutput();
// The page's whole sound stops while its tab is hidden, and goes on when it comes back.
void suspendSoundOutput(bool suspended);
