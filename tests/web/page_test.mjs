// The page in headless Chromium, against build-web/ (NARVU_WEB_SITE) and, for the pictures it must show,
// the native show in build/ (NARVU_NATIVE_BUILD): run by ./test.sh after scripts/build-web.sh.
//
//   node --test tests/web/page_test.mjs
import assert from 'node:assert/strict';
import {execFile} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {after, before, test} from 'node:test';
import {promisify} from 'node:util';

import {comparePictures, decodePng, litBox, openPage, siteFiles, startChromium, startServer, startShow}
  from './browser.mjs';

const kSource = path.resolve(path.dirname(new URL(import.meta.url).pathname), '../..');
const kSite = process.env.NARVU_WEB_SITE || path.join(kSource, 'build-web');
const kNative = process.env.NARVU_NATIVE_BUILD || path.join(kSource, 'build');
// A name that reaches the test's server on 127.0.0.1 without being this computer to the browser: a page
// from it is no secure context.
const kElsewhere = 'narvu.test';

let server = null;
let chromium = null;

before(async () => {
  server = await startServer(kSite);
  chromium = await startChromium([`--host-resolver-rules=MAP ${kElsewhere} 127.0.0.1`]);
});

after(async () => {
  if (chromium) await chromium.close();
  if (server) server.stop();
});

const pause = (milliseconds) => new Promise((resolve) => setTimeout(resolve, milliseconds));
const run = promisify(execFile);

// What the console said that a viewer should never see: exceptions, errors, anything about WebGL.
function complaints(page) {
  return page.said.filter(({type, text}) => type === 'exception' || type === 'error' || /webgl|GL_|GL error/i.test(text));
}

// The native show's frames of a capture with these options, as {name: picture}.
async function nativeFrames(...options) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'narvu-native-frames-'));
  try {
    await run(path.join(kNative, 'narvu'), ['nosound', '--capture', folder, ...options],
              {env: {...process.env, SDL_VIDEODRIVER: 'offscreen'}});
    const frames = {};
    for (const name of fs.readdirSync(folder).filter((file) => file.endsWith('.png')))
      frames[name] = decodePng(fs.readFileSync(path.join(folder, name)));
    return frames;
  } finally {
    fs.rmSync(folder, {recursive: true, force: true});
  }
}

// Two software rasterisers draw triangle edges apart; otherwise the pictures are the same.
function expectSamePicture(expected, seen, what) {
  const {psnr, offShare} = comparePictures(expected, seen);
  assert.ok(psnr >= 38, `${what}: ${psnr.toFixed(2)} dB against the native frame`);
  assert.ok(offShare <= 0.01, `${what}: ${(100 * offShare).toFixed(2)} % of pixels off by more than 8`);
  return psnr;
}

// The picture alone: the control bar, the sign of a pause and the notes over it are hidden for the shot.
async function screenshot(page) {
  await page.evaluate(() => {
    for (const id of ['bar', 'paused-sign', 'notice']) document.getElementById(id).style.visibility = 'hidden';
  });
  const shot = Buffer.from(await page.screenshot({type: 'png'}));
  await page.evaluate(() => {
    for (const id of ['bar', 'paused-sign', 'notice']) document.getElementById(id).style.visibility = '';
  });
  return shot;
}
const shown = (page, id) => page.$eval(`#${id}`, (node) => !node.hidden && !node.classList.contains('away') &&
                                                           getComputedStyle(node).display !== 'none');
const textOf = (page, id) => page.$eval(`#${id}`, (node) => node.textContent);

// ---- Capture ------------------------------------------------------------------------------------------

test('an in-page capture shows its progress, writes the frames and the music the native show writes ' +
     '(sound to the byte, every frame within 38 dB with at most 1 % of its pixels off by more than 8), ' +
     'and offers them as one ZIP', async () => {
  const native = fs.mkdtempSync(path.join(os.tmpdir(), 'narvu-native-capture-'));
  const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'narvu-downloads-'));
  try {
    const nativeRun = run(path.join(kNative, 'narvu'), ['--capture', native, '--fps', '25', '--from', '15', '--to', '17'],
                          {env: {...process.env, SDL_VIDEODRIVER: 'offscreen'}});
    const page = await openPage(chromium.browser, `${server.url}/index.html?--capture=cap&--fps=25&--from=15&--to=17`,
                                640, 480);
    await startShow(page);
    await page.waitForFunction(() => /^frame \d+ of 51/.test(document.getElementById('capture-line').textContent),
                               {timeout: 60000});
    assert.ok(await shown(page, 'capture-status'), 'the progress is not on the page');
    assert.equal(await page.evaluate(() => narvu.done), 0, 'the capture in the page ends with exit code 0');
    assert.deepEqual(await page.evaluate(() => narvu.lines.map((line) => line.kind)), ['result'],
                     'the summary, as a result');

    // The ZIP the page offers holds what its file system holds.
    const cdp = await page.createCDPSession();
    await cdp.send('Page.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads});
    await page.click('#downloads a');
    const zip = path.join(downloads, 'cap.zip');
    for (let i = 0; i < 100 && !fs.existsSync(zip); ++i) await pause(100);
    const listing = await run('python3', ['-c', `import json, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    assert z.testzip() is None
    print(json.dumps({i.filename: i.file_size for i in z.infolist()}))`, zip]);
    const zipped = JSON.parse(listing.stdout);
    const inPage = await page.evaluate(() => Object.fromEntries(
        narvu.FS.readdir('/cap').filter((name) => !name.startsWith('.'))
            .map((name) => [name, narvu.FS.stat(`/cap/${name}`).size])));
    assert.deepEqual(zipped, inPage, 'the ZIP holds the capture');
    await run('python3', ['-c', 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])', zip,
                          path.join(downloads, 'cap')]);

    await nativeRun;
    const expected = fs.readdirSync(native).sort();
    assert.deepEqual(Object.keys(inPage).sort(), expected, 'the same files');
    assert.equal(expected.filter((name) => name.endsWith('.png')).length, 51);
    const fromZip = (name) => fs.readFileSync(path.join(downloads, 'cap', name));
    assert.ok(fromZip('audio.wav').equals(fs.readFileSync(path.join(native, 'audio.wav'))), 'audio.wav differs');
    const worst = {psnr: Infinity, sum: 0};
    for (const name of expected.filter((file) => file.endsWith('.png'))) {
      const psnr = expectSamePicture(decodePng(fs.readFileSync(path.join(native, name))), decodePng(fromZip(name)), name);
      worst.psnr = Math.min(worst.psnr, psnr);
      worst.sum += psnr;
    }
    console.log(`# PSNR lowest ${worst.psnr.toFixed(2)} dB, mean ${(worst.sum / 51).toFixed(2)} dB`);
    assert.deepEqual(complaints(page), []);
    await page.close();
  } finally {
    fs.rmSync(native, {recursive: true, force: true});
    fs.rmSync(downloads, {recursive: true, force: true});
  }
});

// ---- The live page --------------------------------------------------------------------------------------

// The picture's rectangle in a screenshot: the largest 4:3 one centred in it.
function pictureRectangle(width, height) {
  if (width * 3 > height * 4) {
    const w = Math.floor((height * 4) / 3);
    return {left: Math.floor((width - w) / 2), top: 0, right: Math.floor((width - w) / 2) + w, bottom: height};
  }
  const h = Math.floor((width * 3) / 4);
  return {left: 0, top: Math.floor((height - h) / 2), right: width, bottom: Math.floor((height - h) / 2) + h};
}

// The screenshot shows the picture in its 4:3 rectangle, lit close to all four of its edges, and black
// bars around it.
function expectBars(png, what) {
  const picture = decodePng(png);
  const expected = pictureRectangle(picture.width, picture.height);
  const lit = litBox(picture);
  assert.ok(lit, `${what}: the screenshot is black`);
  const slack = 2;  // the browser's scaling of a smaller drawing buffer blurs the picture's edge
  assert.ok(lit.left >= expected.left - slack && lit.right <= expected.right + slack && lit.top >= expected.top - slack &&
            lit.bottom <= expected.bottom + slack, `${what}: lit pixels outside the 4:3 picture ${JSON.stringify(lit)}`);
  const width = expected.right - expected.left, height = expected.bottom - expected.top;
  assert.ok(lit.right - lit.left >= 0.95 * width && lit.bottom - lit.top >= 0.95 * height,
            `${what}: the picture fills ${JSON.stringify(lit)} of ${JSON.stringify(expected)}`);
}

// Whether the page's music moves on, over a second.
async function musicMoves(page) {
  const before = await page.evaluate(() => narvu.sound.played);
  await pause(1000);
  return (await page.evaluate(() => narvu.sound.played)) > before;
}

// The loudest sample the worklet played over a second.
async function loudest(page) {
  let peak = 0;
  for (let i = 0; i < 8; ++i) {
    await pause(125);
    peak = Math.max(peak, await page.evaluate(() => narvu.sound.peak));
  }
  return peak;
}

// A hidden tab as the page sees one, and back.
async function setHidden(page, hidden) {
  await page.evaluate((hide) => {
    if (hide) {
      Object.defineProperty(document, 'hidden', {value: true, configurable: true});
      Object.defineProperty(document, 'visibilityState', {value: 'hidden', configurable: true});
    } else {
      delete document.hidden;
      delete document.visibilityState;
    }
    document.dispatchEvent(new Event('visibilitychange'));
  }, hidden);
}

test('the live page: Start plays picture and music; Space, K and a hidden tab pause both; the control bar ' +
     'comes with the pointer and goes when it is still; mute silences the music; the picture is 4:3 between ' +
     'bars at any window size; F goes full screen; Esc reaches the end panel, from which the show plays ' +
     'again; the console stays clean', async (t) => {
  const page = await openPage(chromium.browser, `${server.url}/index.html`, 1000, 500);
  assert.equal(await page.$eval('#start', (button) => button.textContent), 'Start');
  assert.ok(await shown(page, 'poster'), 'no poster before Start');
  await startShow(page);
  await page.waitForFunction(() => narvu.times.firstFrame !== undefined, {timeout: 60000});

  await t.test('the picture moves on, and the music plays at its pace, without running dry', async () => {
    await pause(3000);
    const first = await screenshot(page);
    await pause(1500);
    assert.ok(!first.equals(await screenshot(page)), 'two screenshots 1.5 s apart are the same');
    const before = {played: await page.evaluate(() => narvu.sound.played), at: performance.now()};
    assert.ok(await loudest(page) > 0.01, 'the music is silent');
    const {played, queued, underruns, missed} = await page.evaluate(() => narvu.sound);
    // A second is mixed ahead (platform/web_sound_output.cpp), topped up at every turn.
    assert.ok(queued >= 0 && queued <= 2 * 44100, `${queued} frames mixed ahead of the music played`);
    assert.equal(underruns, 0, `the music ran dry ${underruns} times, for ${missed} frames`);
    const seconds = (performance.now() - before.at) / 1000;
    assert.ok(Math.abs((played - before.played) / 44100 - seconds) < 0.25 * seconds,
              `${played - before.played} frames played in ${seconds} s`);
  });

  await t.test('Space and K pause picture and music together, with a sign that says so, and again go on',
               async () => {
    for (const key of ['Space', 'KeyK']) {
      await page.keyboard.press(key);
      await pause(500);
      assert.ok(await shown(page, 'paused-sign'), `${key}: no sign of the pause`);
      const paused = await screenshot(page);
      assert.ok(!(await musicMoves(page)), `${key}: the music plays on while paused`);
      assert.ok(paused.equals(await screenshot(page)), `${key}: the picture moves while paused`);
      await page.keyboard.press(key);
      await pause(1000);
      assert.ok(!(await shown(page, 'paused-sign')), `${key}: the sign stays`);
      assert.ok(await musicMoves(page), `${key}: the music stays silent after the second press`);
    }
  });

  await t.test('a hidden tab pauses picture and music, and its return goes on', async () => {
    await setHidden(page, true);
    await pause(500);
    const hidden = await screenshot(page);
    assert.ok(!(await musicMoves(page)), 'the music plays on in a hidden tab');
    assert.ok(hidden.equals(await screenshot(page)), 'the picture moves in a hidden tab');
    await setHidden(page, false);
    await pause(1000);
    assert.ok(!hidden.equals(await screenshot(page)), 'the picture stays after the tab came back');
    assert.ok(await musicMoves(page), 'the music stays silent after the tab came back');
  });

  await t.test('the bar comes with the pointer and goes after three seconds of stillness; its controls ' +
               'have names, and Tab reaches them', async () => {
    assert.ok(!(await shown(page, 'bar')), 'the bar is there before the pointer moved');
    await page.mouse.move(500, 200);
    await page.mouse.move(520, 220);
    await pause(300);
    assert.ok(await shown(page, 'bar'), 'the bar does not come with the pointer');
    assert.match(await textOf(page, 'time'), /^\d:\d\d \/ 1:48$/);
    const names = await page.$$eval('#bar button, #bar input', (controls) => controls.map(
        (control) => control.getAttribute('aria-label')));
    assert.deepEqual(names, ['Pause', 'Seek', 'Copy a link to this moment', 'Mute', 'Volume', 'Full screen']);
    await pause(3600);
    assert.ok(!(await shown(page, 'bar')), 'the bar stays while the pointer is still');
    // From the picture, Tab goes to the bar's first control, whose Enter is its own (not the show's).
    await page.focus('#screen');
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Pause');
    assert.ok(await shown(page, 'bar'), 'the bar does not come with the keyboard');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => narvu.position.paused, {timeout: 5000});
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => !narvu.position.paused, {timeout: 5000});
    await page.focus('#screen');
  });

  await t.test('M mutes the worklet\'s output while the music plays on, and again unmutes it; the choice ' +
               'is remembered', async () => {
    await page.keyboard.press('KeyM');
    await pause(300);
    assert.equal(await loudest(page), 0, 'muted, the worklet still sounds');
    assert.ok(await musicMoves(page), 'muted, the music stopped instead');
    assert.equal(await page.evaluate(() => localStorage.getItem('narvu.muted')), '1');
    await page.keyboard.press('KeyM');
    await pause(300);
    assert.ok(await loudest(page) > 0.01, 'unmuted, the music stays silent');
  });

  await t.test('the picture is 4:3 between black bars, beside it and above it, at any pixel ratio; on a ' +
               'software rasteriser the drawing buffer is no larger than the picture needs', async () => {
    expectBars(await screenshot(page), '1000 x 500');
    await page.setViewport({width: 480, height: 640, deviceScaleFactor: 2});
    await pause(1000);
    const tall = await screenshot(page);
    assert.equal(decodePng(tall).width, 960, 'the screenshot is in device pixels');
    // SwiftShader: 960 device pixels of picture across would be 640 useful ones, scaled up by the page.
    assert.deepEqual(await page.$eval('#screen', (canvas) => [canvas.width, canvas.height]), [640, 853],
                     'the drawing buffer has the picture\'s own width, in the canvas\'s shape');
    expectBars(tall, '480 x 640 at 2 device pixels a pixel');
    await page.setViewport({width: 1000, height: 500});
  });

  await t.test('F and a double click on the picture switch full screen', async () => {
    const fullscreen = () => page.evaluate(() => (document.fullscreenElement ? document.fullscreenElement.id : null));
    await page.keyboard.press('KeyF');
    await page.waitForFunction(() => document.fullscreenElement !== null, {timeout: 5000});
    assert.equal(await fullscreen(), 'stage');
    await page.keyboard.press('KeyF');
    await page.waitForFunction(() => document.fullscreenElement === null, {timeout: 5000});
    await page.click('#screen', {count: 2});
    await page.waitForFunction(() => document.fullscreenElement !== null, {timeout: 5000});
    assert.equal(await fullscreen(), 'stage');
    await page.click('#screen', {count: 2});
    await page.waitForFunction(() => document.fullscreenElement === null, {timeout: 5000});
  });

  await t.test('Esc ends the show: the end panel offers Play again, with the focus, and it plays again',
               async () => {
    await page.keyboard.press('Escape');
    assert.equal(await page.evaluate(() => narvu.done), 0);
    assert.ok(await shown(page, 'end'), 'no end panel');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'again');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => narvu.times.firstFrame !== undefined, {timeout: 60000});
    await pause(2000);
    assert.ok(litBox(decodePng(await screenshot(page))), 'the second start shows a black picture');
    assert.ok(await musicMoves(page), 'the second start plays no music');
    assert.equal(await page.evaluate(() => narvu.sound.underruns), 0, 'the second start\'s music ran dry');
    await page.keyboard.press('Escape');
    assert.equal(await page.evaluate(() => narvu.done), 0);
  });

  await t.test('the console has no WebGL errors, no errors and no exceptions', () => {
    assert.deepEqual(complaints(page), []);
  });
  await page.close();
});

// ---- Moments ------------------------------------------------------------------------------------------

test('a link to a moment (#t=1:12) opens the show on the native frame of that moment, and the seek bar, ' +
     'clicked while paused, lands on the native frame of its moment', async () => {
  const native = nativeFrames('--fps', '25', '--from', '72', '--to', '72');
  const page = await openPage(chromium.browser, `${server.url}/index.html?nosound#t=1:12`, 640, 480);
  // The first frame, read from the canvas as it is drawn (before the browser shows it and clears it).
  await page.evaluate(() => {
    let at;
    Object.defineProperty(narvu.times, 'firstFrame', {
      get: () => at,
      set(value) {
        at = value;
        if (value !== undefined) narvu.firstPicture = document.getElementById('screen').toDataURL('image/png');
      },
    });
  });
  await startShow(page);
  await page.waitForFunction(() => narvu.firstPicture !== undefined, {timeout: 60000});
  const first = await page.evaluate(() => narvu.firstPicture);
  const frames = await native;
  expectSamePicture(frames['frame_001800.png'], decodePng(Buffer.from(first.split(',')[1], 'base64')),
                    'the first frame after #t=1:12');

  // Paused, and the pointer moved so that the bar shows; a click a third of the way along the seek bar.
  await page.keyboard.press('KeyK');
  await page.waitForFunction(() => narvu.position.paused);
  await page.mouse.move(320, 300);
  const box = await (await page.$('#seek')).boundingBox();
  await page.mouse.click(box.x + box.width * 0.28, box.y + box.height / 2);
  await page.waitForFunction((value) => narvu.position.moment === value,
                             {timeout: 10000}, await page.$eval('#seek', (seek) => Number(seek.value)));
  const moment = await page.evaluate(() => narvu.position.moment);
  assert.equal(moment % 100, 0, `the bar moves in tenths of a second: ${moment}`);
  assert.ok(moment > 10000 && moment < 57000, `${moment} ms: no fade there`);
  const atMoment = nativeFrames('--fps', '10', '--from', String(moment / 1000), '--to', String(moment / 1000));
  const seen = decodePng(await screenshot(page));
  const expected = Object.values(await atMoment)[0];
  expectSamePicture(expected, seen, `the frame at ${moment} ms after the seek bar`);
  assert.equal(await textOf(page, 'time'), `0:${String(Math.floor(moment / 1000)).padStart(2, '0')} / 1:48`);
  assert.deepEqual(complaints(page), []);
  await page.close();
});

// ---- Where the page cannot do everything -----------------------------------------------------------------

test('from an address that is no secure context the show plays without sound, and says why before Start ' +
     'and over the picture', async () => {
  const port = new URL(server.url).port;
  const page = await openPage(chromium.browser, `http://${kElsewhere}:${port}/index.html`, 640, 480);
  assert.equal(await page.evaluate(() => window.isSecureContext), false, 'the test\'s address is a secure context');
  assert.match(await textOf(page, 'notes'), /only over https or from this computer/);
  await startShow(page);
  await page.waitForFunction(() => narvu.times.firstFrame !== undefined, {timeout: 60000});
  assert.ok(await shown(page, 'notice'), 'no note over the picture');
  assert.match(await textOf(page, 'notice'), /plays without sound/);
  const before = await page.evaluate(() => narvu.position.moment);
  await pause(1500);
  assert.ok((await page.evaluate(() => narvu.position.moment)) > before, 'the show does not play');
  assert.ok(litBox(decodePng(await screenshot(page))), 'the picture is black');
  assert.equal(await page.evaluate(() => narvu.sound.played), 0);
  await page.keyboard.press('Escape');
  assert.equal(await page.evaluate(() => narvu.done), 0);
  assert.deepEqual(await page.evaluate(() => narvu.lines), [], 'the show had something to complain about');
  await page.close();
});

test('a browser without WebGL 2 gets one sentence and no Start, having downloaded less than 100 kB', async () => {
  const browser = await startChromium(['--disable-webgl2']);
  try {
    const page = await browser.browser.newPage();
    const cdp = await page.createCDPSession();
    await cdp.send('Network.enable');
    let bytes = 0;
    cdp.on('Network.loadingFinished', (event) => (bytes += event.encodedDataLength));
    await page.goto(`${server.url}/index.html`);
    await page.waitForFunction(() => document.getElementById('notes').textContent !== '');
    await pause(1000);
    assert.match(await textOf(page, 'notes'), /^This show needs WebGL 2, which this browser does not offer or has turned off/);
    assert.ok(!(await shown(page, 'start')), 'a Start button');
    assert.ok(bytes < 100000, `${bytes} bytes downloaded`);
  } finally {
    await browser.close();
  }
});

test('the address: a malformed word is named and the rest plays; choosedrv asks nothing and says nothing; ' +
     '--help shows on the panel; --music-only shows the title and the time, and Esc ends it; a video ' +
     'capture and --jobs are refused in the show\'s own line, exit code 2', async () => {
  const malformed = await openPage(chromium.browser, `${server.url}/index.html?%E0%A4%A&choosedrv&nosound`, 640, 480);
  assert.match(await textOf(malformed, 'notes'), /“%E0%A4%A” is no valid percent-encoding/);
  await startShow(malformed);
  await malformed.waitForFunction(() => narvu.position.moment > 1000, {timeout: 60000});
  assert.equal(await malformed.evaluate(() => narvu.sound.played), 0, 'nosound was not heard');
  assert.deepEqual(await malformed.evaluate(() => narvu.lines), [], 'choosedrv left a line');
  await malformed.close();

  const music = await openPage(chromium.browser, `${server.url}/index.html?--music-only`, 640, 480);
  await startShow(music);
  await music.waitForFunction(() => narvu.sound.played > 44100, {timeout: 60000});
  assert.ok(await shown(music, 'music'), 'no panel for the music');
  assert.match(await textOf(music, 'music-lines'), /^title: {4}narvu/);
  assert.match(await textOf(music, 'music-time'), /^0:0[1-9] \/ 1:50$/);
  await music.keyboard.press('Escape');
  assert.equal(await music.evaluate(() => narvu.done), 0);
  assert.match(await textOf(music, 'lines'), /stopped after \d+\.\d s/);
  await music.close();

  const help = await openPage(chromium.browser, `${server.url}/index.html?--help`, 640, 480);
  await startShow(help);
  assert.equal(await help.evaluate(() => narvu.done), 0);
  assert.ok(await shown(help, 'end'));
  assert.match(await textOf(help, 'lines'), /^usage: narvu .*--capture DIR/s);
  await help.close();

  for (const [query, words] of [['--capture=show.mp4', 'a video needs the ffmpeg program, and a web page cannot'],
                                ['--capture=cap&--jobs=2', '--jobs runs this program several times']]) {
    const page = await openPage(chromium.browser, `${server.url}/index.html?${query}`, 640, 480);
    await startShow(page);
    assert.equal(await page.evaluate(() => narvu.done), 2, query);
    const lines = await page.evaluate(() => narvu.lines);
    assert.equal(lines.length, 1, `${query}: ${JSON.stringify(lines)}`);
    assert.equal(lines[0].kind, 'problem');
    assert.ok(lines[0].text.startsWith('narvu: ') && lines[0].text.includes(words), lines[0].text);
    assert.ok((await textOf(page, 'lines')).includes(words));
    await page.close();
  }
});

test('a download that arrives short is named as such, with nothing to start', async () => {
  const copy = fs.mkdtempSync(path.join(os.tmpdir(), 'narvu-short-site-'));
  const shortServer = {stop() {}};
  try {
    fs.cpSync(kSite, copy, {recursive: true});
    const pack = path.join(copy, siteFiles(kSite).pack.name);
    fs.truncateSync(pack, Math.floor(fs.statSync(pack).size / 2));
    Object.assign(shortServer, await startServer(copy));
    const page = await openPage(chromium.browser, `${shortServer.url}/index.html`, 640, 480);
    await page.waitForFunction(() => /did not arrive/.test(document.getElementById('notes').textContent),
                               {timeout: 60000});
    assert.match(await textOf(page, 'notes'), /the show's data did not arrive whole \(narvu\.[0-9a-f]+\.dat: \d+ of \d+ bytes\); reload the page/);
    assert.ok(!(await shown(page, 'start')), 'a Start button');
    await page.close();
  } finally {
    shortServer.stop();
    fs.rmSync(copy, {recursive: true, force: true});
  }
});

test('the site\'s files carry their contents\' hash in their names, and index.html their lengths', () => {
  const files = siteFiles(kSite);
  for (const [key, file] of Object.entries(files)) {
    assert.match(file.name, /^[a-z-]+\.[0-9a-f]{12}\.[a-z]+$/, key);
    assert.equal(fs.statSync(path.join(kSite, file.name)).size, file.bytes, file.name);
  }
  assert.deepEqual(fs.readdirSync(kSite).sort(), ['index.html', ...Object.values(files).map((file) => file.name)].sort(),
                   'nothing else, and no earlier build\'s files');
});
