// The page in headless Chromium, against build-web/ (NARVU_WEB_SITE) and, for the capture, the native
// show in build/ (NARVU_NATIVE_BUILD): run by ./test.sh after scripts/build-web.sh.
//
//   node --test tests/web/page_test.mjs
import assert from 'node:assert/strict';
import {execFile} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {after, before, test} from 'node:test';
import {promisify} from 'node:util';

import {comparePictures, decodePng, litBox, openPage, startChromium, startServer, startShow} from './browser.mjs';

const kSource = path.resolve(path.dirname(new URL(import.meta.url).pathname), '../..');
const kSite = process.env.NARVU_WEB_SITE || path.join(kSource, 'build-web');
const kNative = process.env.NARVU_NATIVE_BUILD || path.join(kSource, 'build');

let server = null;
let chromium = null;

before(async () => {
  server = await startServer(kSite);
  chromium = await startChromium();
});

after(async () => {
  if (chromium) await chromium.close();
  if (server) server.stop();
});

const pause = (milliseconds) => new Promise((resolve) => setTimeout(resolve, milliseconds));

// What the console said that a viewer should never see: exceptions, errors, anything about WebGL.
function complaints(page) {
  return page.said.filter(({type, text}) => type === 'exception' || type === 'error' || /webgl|GL_|GL error/i.test(text));
}

// ---- Capture ------------------------------------------------------------------------------------------

// The files of a capture folder in the page, as {name: bytes}.
async function pageFiles(page, folder) {
  const names = await page.evaluate((dir) => narvu.FS.readdir(dir).filter((name) => !name.startsWith('.')), folder);
  const files = {};
  for (const name of names) {
    const base64 = await page.evaluate((file) => {
      const bytes = narvu.FS.readFile(file);
      let text = '';
      for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
      return btoa(text);
    }, `${folder}/${name}`);
    files[name] = Buffer.from(base64, 'base64');
  }
  return files;
}

test('an in-page capture writes the frames and the music the native show writes: sound to the byte, ' +
     'every frame within 38 dB with at most 1 % of its pixels off by more than 8', async () => {
  const native = fs.mkdtempSync(path.join(os.tmpdir(), 'narvu-native-capture-'));
  try {
    const nativeRun = promisify(execFile)(
        path.join(kNative, 'narvu'), ['--capture', native, '--fps', '25', '--from', '15', '--to', '17'],
        {env: {...process.env, SDL_VIDEODRIVER: 'offscreen'}});
    const page = await openPage(chromium.browser, `${server.url}/index.html?--capture=cap&--fps=25&--from=15&--to=17`,
                                640, 480);
    await startShow(page);
    assert.equal(await page.evaluate(() => narvu.done), 0, 'the capture in the page ends with exit code 0');
    const inPage = await pageFiles(page, '/cap');
    await nativeRun;
    const expected = fs.readdirSync(native).sort();
    assert.deepEqual(Object.keys(inPage).sort(), expected, 'the same files');
    assert.equal(expected.filter((name) => name.endsWith('.png')).length, 51);
    assert.ok(inPage['audio.wav'].equals(fs.readFileSync(path.join(native, 'audio.wav'))), 'audio.wav differs');
    const worst = {psnr: Infinity, offShare: 0, sum: 0};
    for (const name of expected.filter((file) => file.endsWith('.png'))) {
      const {psnr, offShare} = comparePictures(decodePng(fs.readFileSync(path.join(native, name))),
                                               decodePng(inPage[name]));
      assert.ok(psnr >= 38, `${name}: ${psnr.toFixed(2)} dB against the native frame`);
      assert.ok(offShare <= 0.01, `${name}: ${(100 * offShare).toFixed(2)} % of pixels off by more than 8`);
      worst.psnr = Math.min(worst.psnr, psnr);
      worst.sum += psnr;
      worst.offShare = Math.max(worst.offShare, offShare);
    }
    console.log(`# PSNR lowest ${worst.psnr.toFixed(2)} dB, mean ${(worst.sum / 51).toFixed(2)} dB; ` +
                `most pixels off ${(100 * worst.offShare).toFixed(3)} %`);
    assert.deepEqual(complaints(page), []);
    await page.close();
  } finally {
    fs.rmSync(native, {recursive: true, force: true});
  }
});

// ---- The live page --------------------------------------------------------------------------------------

const screenshot = async (page) => Buffer.from(await page.screenshot({type: 'png'}));

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
  assert.ok(lit.left >= expected.left && lit.right <= expected.right && lit.top >= expected.top &&
            lit.bottom <= expected.bottom, `${what}: lit pixels outside the 4:3 picture ${JSON.stringify(lit)}`);
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

test('the live page: Start plays picture and music; Space and a hidden tab pause both; the picture is ' +
     '4:3 between bars at any window size; F goes full screen; Esc reaches the end panel, from which the ' +
     'show plays again; the console stays clean', async (t) => {
  const page = await openPage(chromium.browser, `${server.url}/index.html`, 1000, 500);
  assert.equal(await page.$eval('#start', (button) => button.textContent), 'Start');
  await startShow(page);
  await page.waitForFunction(() => narvu.times.firstFrame !== undefined, {timeout: 60000});

  await t.test('the picture moves on, and the music plays at its pace, mixed no further ahead than asked', async () => {
    await pause(3000);
    const first = await screenshot(page);
    await pause(1500);
    assert.ok(!first.equals(await screenshot(page)), 'two screenshots 1.5 s apart are the same');
    const before = {played: await page.evaluate(() => narvu.sound.played), at: performance.now()};
    let loudest = 0;
    for (let i = 0; i < 8; ++i) {
      await pause(250);
      // 8192 frames are mixed ahead (platform/web_sound_output.cpp), topped up at every turn; a turn
      // that comes late (a slow frame) leaves the worklet short for a moment, up to a second here.
      const {queued, peak} = await page.evaluate(() => narvu.sound);
      assert.ok(queued >= -44100 && queued <= 16384, `${queued} frames mixed ahead of the music played`);
      loudest = Math.max(loudest, peak);
    }
    assert.ok(loudest > 0.01, `the music is silent (its loudest sample ${loudest})`);
    const played = (await page.evaluate(() => narvu.sound.played)) - before.played;
    const seconds = (performance.now() - before.at) / 1000;
    assert.ok(Math.abs(played / 44100 - seconds) < 0.25 * seconds, `${played} frames played in ${seconds} s`);
  });

  await t.test('Space pauses picture and music together, and again goes on', async () => {
    await page.keyboard.press('Space');
    await pause(500);
    const paused = await screenshot(page);
    assert.ok(!(await musicMoves(page)), 'the music plays on while paused');
    assert.ok(paused.equals(await screenshot(page)), 'the picture moves while paused');
    await page.keyboard.press('Space');
    await pause(1000);
    assert.ok(!paused.equals(await screenshot(page)), 'the picture stays after the second Space');
    assert.ok(await musicMoves(page), 'the music stays silent after the second Space');
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

  await t.test('the picture is 4:3 between black bars, beside it and above it, at any pixel ratio', async () => {
    expectBars(await screenshot(page), '1000 x 500');
    await page.setViewport({width: 480, height: 640, deviceScaleFactor: 2});
    await pause(1000);
    const tall = await screenshot(page);
    assert.equal(decodePng(tall).width, 960, 'the screenshot is in device pixels');
    assert.deepEqual(await page.$eval('#screen', (canvas) => [canvas.width, canvas.height]), [960, 1280],
                     'the canvas draws in device pixels');
    expectBars(tall, '480 x 640 at 2 device pixels a pixel');
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

  await t.test('Esc ends the show: the end panel offers Play again, which plays it again', async () => {
    await page.keyboard.press('Escape');
    assert.equal(await page.evaluate(() => narvu.done), 0);
    assert.ok(await page.$eval('#end', (panel) => !panel.hidden), 'no end panel');
    assert.equal(await page.$eval('#again', (button) => button.textContent), 'Play again');
    await page.click('#again');
    await page.waitForFunction(() => narvu.times.firstFrame !== undefined, {timeout: 60000});
    await pause(2000);
    assert.ok(litBox(decodePng(await screenshot(page))), 'the second start shows a black picture');
    assert.ok(await musicMoves(page), 'the second start plays no music');
    await page.keyboard.press('Escape');
    assert.equal(await page.evaluate(() => narvu.done), 0);
  });

  await t.test('the console has no WebGL errors, no errors and no exceptions', () => {
    assert.deepEqual(complaints(page), []);
  });
  await page.close();
});

// ---- What a page cannot do -------------------------------------------------------------------------------

test('a video capture and --jobs are refused in one line, with exit code 1', async () => {
  for (const [query, words] of [['--capture=show.mp4', 'cannot make a video'], ['--capture=cap&--jobs=2', '--jobs']]) {
    const page = await openPage(chromium.browser, `${server.url}/index.html?${query}`, 640, 480);
    await startShow(page);
    assert.equal(await page.evaluate(() => narvu.done), 1, query);
    const lines = page.said.filter(({text}) => text.startsWith('narvu: '));
    assert.equal(lines.length, 1, `${query}: ${JSON.stringify(page.said)}`);
    assert.ok(lines[0].text.includes(words), lines[0].text);
    assert.ok((await page.$eval('#end-problem', (line) => line.textContent)).includes(words));
    await page.close();
  }
});
